#include "process/RouterLock.h"

#include <QByteArray>
#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fw {

namespace {

// A lock that its holder drops between our try and our question is tried again, this often.
constexpr int TakeTries = 3;
constexpr qsizetype MaxNameLength = 100;

QString errnoText(int err) {
    return QString::fromLocal8Bit(std::strerror(err));
}

bool ownPrivateDirectory(const QByteArray& path) {
    struct stat st {};
    return ::lstat(path.constData(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::getuid() &&
           (st.st_mode & 077) == 0;
}

flock wholeFile(short type) {
    flock l{};
    l.l_type = type;
    l.l_whence = SEEK_SET;
    l.l_start = 0;
    l.l_len = 0;
    return l;
}

} // namespace

RouterLock::~RouterLock() {
    release();
}

QString RouterLock::runtimeDirectory() {
    const QString xdg = qEnvironmentVariable("XDG_RUNTIME_DIR");
    struct stat st {};
    if (xdg.startsWith(QLatin1Char('/')) && ::stat(QFile::encodeName(xdg).constData(), &st) == 0 &&
        S_ISDIR(st.st_mode))
        return xdg;
    // The same fixed place for every run of this user, whatever its TMPDIR.
    const QByteArray fallback = "/tmp/fwupgrade-" + QByteArray::number(::getuid());
    if (::mkdir(fallback.constData(), 0700) != 0 && errno != EEXIST)
        return {};
    return ownPrivateDirectory(fallback) ? QFile::decodeName(fallback) : QString();
}

QString RouterLock::fileName(const QString& router) {
    QString name = router.left(MaxNameLength);
    for (QChar& c : name) {
        const bool kept = (c >= QLatin1Char('a') && c <= QLatin1Char('z')) ||
                          (c >= QLatin1Char('A') && c <= QLatin1Char('Z')) ||
                          (c >= QLatin1Char('0') && c <= QLatin1Char('9')) ||
                          c == QLatin1Char('.') || c == QLatin1Char('-') || c == QLatin1Char('_');
        if (!kept)
            c = QLatin1Char('_');
    }
    return QStringLiteral("fwupgrade-router-") + name + QStringLiteral(".lock");
}

RouterLock::Result RouterLock::take(const QString& router, const QString& directory) {
    holder_ = 0;
    error_.clear();
    if (held() && router_ == router)
        return Result::Taken;
    release();

    const QString dir = directory.isEmpty() ? runtimeDirectory() : directory;
    if (dir.isEmpty()) {
        error_ = QStringLiteral("no runtime directory");
        return Result::Unavailable;
    }
    const QByteArray path = QFile::encodeName(dir + QLatin1Char('/') + fileName(router));
    const int fd = ::open(path.constData(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
        error_ =
            QStringLiteral("cannot open %1: %2").arg(QFile::decodeName(path), errnoText(errno));
        return Result::Unavailable;
    }
    for (int i = 0; i < TakeTries; ++i) {
        flock l = wholeFile(F_WRLCK);
        if (::fcntl(fd, F_SETLK, &l) == 0) {
            fd_ = fd;
            router_ = router;
            // For a person looking into the directory; the kernel's lock is what counts.
            const QByteArray pid = QByteArray::number(qint64(::getpid())) + '\n';
            if (::ftruncate(fd, 0) != 0 ||
                ::pwrite(fd, pid.constData(), size_t(pid.size()), 0) < 0) {
                // The lock holds all the same.
            }
            return Result::Taken;
        }
        if (errno != EACCES && errno != EAGAIN) {
            error_ =
                QStringLiteral("cannot lock %1: %2").arg(QFile::decodeName(path), errnoText(errno));
            ::close(fd);
            return Result::Unavailable;
        }
        flock who = wholeFile(F_WRLCK);
        if (::fcntl(fd, F_GETLK, &who) == 0 && who.l_type != F_UNLCK) {
            holder_ = who.l_pid > 0 ? qint64(who.l_pid) : 0;
            ::close(fd);
            return Result::Busy;
        }
    }
    ::close(fd);
    return Result::Busy;
}

void RouterLock::release() {
    if (fd_ < 0)
        return;
    // Closing drops the lock; the file stays, so that every run locks the same inode.
    ::close(fd_);
    fd_ = -1;
    router_.clear();
}

} // namespace fw
