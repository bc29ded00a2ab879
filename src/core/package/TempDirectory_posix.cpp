#include "package/TempDirectory.h"

#include <QFile>
#include <QString>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fw {

namespace {
QString errnoText(int err) {
    return QString::fromLocal8Bit(std::strerror(err));
}
} // namespace

TempDirectory::~TempDirectory() {
    close();
}

QString TempDirectory::base(const QString& override) {
    if (!override.isEmpty())
        return override;
    for (const char* name : {"TMPDIR", "TEMP", "TMP"}) {
        const QString value = qEnvironmentVariable(name);
        if (!value.isEmpty())
            return value;
    }
    return QStringLiteral("/tmp");
}

bool TempDirectory::fail(const QString& what) {
    error_ = what;
    return false;
}

bool TempDirectory::createPrivate(const QString& base) {
    close();
    QByteArray pattern = QFile::encodeName(base);
    while (pattern.size() > 1 && pattern.endsWith('/'))
        pattern.chop(1);
    pattern += "/fwupgrade-XXXXXX";
    // mkdtemp creates the directory with mode 0700 and a name no one else holds.
    if (!::mkdtemp(pattern.data()))
        return fail(
            QStringLiteral("cannot create a directory in %1: %2").arg(base, errnoText(errno)));
    const int fd = ::open(pattern.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        const int err = errno;
        ::rmdir(pattern.constData());
        return fail(
            QStringLiteral("cannot open %1: %2").arg(QFile::decodeName(pattern), errnoText(err)));
    }
    // mkdtemp's 0700 is subject to the umask; the owner must be able to write into it.
    if (::fchmod(fd, 0700) != 0) {
        const int err = errno;
        ::close(fd);
        ::rmdir(pattern.constData());
        return fail(QStringLiteral("cannot set the mode of %1: %2")
                        .arg(QFile::decodeName(pattern), errnoText(err)));
    }
    fd_ = fd;
    native_ = pattern;
    path_ = QFile::decodeName(pattern);
    return true;
}

bool TempDirectory::openExisting(const QString& path) {
    close();
    QByteArray native = QFile::encodeName(path);
    while (native.size() > 1 && native.endsWith('/'))
        native.chop(1);
    const int fd = ::open(native.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return fail(QStringLiteral("cannot open directory %1: %2").arg(path, errnoText(errno)));
    fd_ = fd;
    native_ = native;
    path_ = QFile::decodeName(native);
    return true;
}

QString TempDirectory::filePath(const QByteArray& name) const {
    return path_ + QLatin1Char('/') + QFile::decodeName(name);
}

int TempDirectory::createFile(const QByteArray& name, bool replace) {
    if (fd_ < 0) {
        fail(QStringLiteral("no directory"));
        return -1;
    }
    if (name.isEmpty() || name.contains('/') || name == "." || name == "..") {
        fail(QStringLiteral("refused file name"));
        return -1;
    }
    if (replace && ::unlinkat(fd_, name.constData(), 0) != 0 && errno != ENOENT) {
        fail(QStringLiteral("cannot remove %1: %2").arg(filePath(name), errnoText(errno)));
        return -1;
    }
    // O_EXCL refuses anything that appeared meanwhile, a dangling link included.
    const int fd =
        ::openat(fd_, name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0)
        fail(QStringLiteral("cannot create %1: %2").arg(filePath(name), errnoText(errno)));
    return fd;
}

bool TempDirectory::removeFile(const QByteArray& name) {
    if (fd_ < 0 || name.isEmpty() || name.contains('/'))
        return false;
    return ::unlinkat(fd_, name.constData(), 0) == 0 || errno == ENOENT;
}

bool TempDirectory::removeDirectory() {
    if (fd_ < 0)
        return false;
    const bool ok = ::rmdir(native_.constData()) == 0 || errno == ENOENT;
    close();
    return ok;
}

void TempDirectory::close() {
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
}

bool TempDirectory::makeOwnerWritable(int fd) {
    struct stat st {};
    if (::fstat(fd, &st) != 0)
        return false;
    return (st.st_mode & S_IWUSR) || ::fchmod(fd, (st.st_mode & 07777) | S_IWUSR) == 0;
}

void TempDirectory::closeFile(int fd) {
    if (fd >= 0)
        ::close(fd);
}

} // namespace fw
