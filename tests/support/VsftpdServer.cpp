#include "support/VsftpdServer.h"

#include "support/NetNamespace.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QThread>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace fw::test {

namespace {

const QString Vsftpd = QStringLiteral("/usr/sbin/vsftpd");
// The PAM service of the test's own configuration.
const QString PamService = QStringLiteral("fwupgrade-test");
// crypt(3) SHA-512 of RootPassword.
const QByteArray RootHash = "$6$fwupgradetest$vrmAtCxhFKEwn01D.JeEgvmrm9xBXQ1yut3cYFI8QvnY3fJ."
                            "WarTARM3XWsPLgodEf3eOUMk3FhTjf7L2XH0.0";

bool writeFile(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

// True once something accepts a TCP connection on address:port.
bool accepts(const QString& address, quint16 port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port);
    ::inet_pton(AF_INET, address.toLatin1().constData(), &sa.sin_addr);
    const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0;
    ::close(fd);
    return ok;
}

// The shell line run in the private mount namespace: the test's PAM directory and account file
// over the host's, then vsftpd with the test's configuration.
QStringList mountedCommand(const QString& dir, const QString& tail) {
    const QString script = QStringLiteral("set -e; mount --bind \"$1/pam.d\" /etc/pam.d; "
                                          "mount --bind \"$1/shadow\" /etc/shadow; ") +
                           tail;
    return {QStringLiteral("-m"),  QStringLiteral("--propagation"), QStringLiteral("private"),
            QStringLiteral("sh"),  QStringLiteral("-c"),            script,
            QStringLiteral("sh"),  dir};
}

} // namespace

const QString VsftpdServer::RootPassword = QStringLiteral("pw1");

VsftpdServer::VsftpdServer(QString address, QByteArray banner)
    : address_(std::move(address)), banner_(std::move(banner)) {}

VsftpdServer::~VsftpdServer() {
    stop();
}

QString VsftpdServer::unavailable() {
    if (!NetNamespace::ready())
        return QStringLiteral("no private network namespace: ") + NetNamespace::failure();
    if (!QFileInfo(Vsftpd).isExecutable())
        return Vsftpd + QStringLiteral(" is not installed (scripts/setup.sh installs it)");
    // vsftpd's sessions change to other users: a user namespace that maps root alone (the
    // namespace of an unprivileged run) cannot give it that.
    QFile map(QStringLiteral("/proc/self/uid_map"));
    const QByteArray uidMap = map.open(QIODevice::ReadOnly) ? map.readAll().simplified() : "";
    if (::geteuid() != 0 || uidMap != "0 0 4294967295")
        return QStringLiteral("not the real root (uid map: ") + QString::fromLatin1(uidMap) +
               QStringLiteral("); vsftpd's sessions change users");
    // The bind mounts work in a private mount namespace of a throw-away shell.
    QTemporaryDir probe;
    QDir(probe.path()).mkpath(QStringLiteral("pam.d"));
    writeFile(probe.filePath(QStringLiteral("shadow")), {});
    int code = -1;
    const QString out = NetNamespace::run(
        QStringList{QStringLiteral("unshare")} +
            mountedCommand(probe.path(), QStringLiteral("test ! -s /etc/shadow")),
        &code);
    if (code != 0)
        return QStringLiteral("unshare -m with bind mounts failed: ") + out.trimmed();
    return {};
}

QString VsftpdServer::filesDir() const {
    return dir_.filePath(QStringLiteral("files"));
}

QByteArray VsftpdServer::log() const {
    QFile f(dir_.filePath(QStringLiteral("vsftpd.log")));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QString VsftpdServer::start() {
    if (const QString why = unavailable(); !why.isEmpty())
        return why;
    const QDir d(dir_.path());
    d.mkpath(QStringLiteral("files"));
    d.mkpath(QStringLiteral("empty"));
    d.mkpath(QStringLiteral("pam.d"));
    // The host's ftpusers list and its PAM stack refuse "root"; this stack asks only the
    // account file bound over /etc/shadow in vsftpd's mount namespace.
    const QByteArray pam = "auth required pam_unix.so nodelay\n"
                           "account required pam_permit.so\n"
                           "session required pam_permit.so\n";
    QByteArray conf = "listen=YES\nlisten_ipv6=NO\nbackground=NO\n"
                      "listen_address=" +
                      address_.toLatin1() +
                      "\nlisten_port=21\n"
                      "anonymous_enable=NO\nlocal_enable=YES\nwrite_enable=YES\nlocal_umask=022\n"
                      "delay_failed_login=0\n"
                      "pam_service_name=" +
                      PamService.toLatin1() +
                      "\nuserlist_enable=NO\n"
                      "local_root=" +
                      filesDir().toLocal8Bit() +
                      "\nsecure_chroot_dir=" + d.filePath(QStringLiteral("empty")).toLocal8Bit() +
                      "\nconnect_from_port_20=NO\nport_enable=YES\npasv_enable=NO\n"
                      "seccomp_sandbox=NO\nisolate=NO\nisolate_network=NO\n"
                      "xferlog_enable=YES\nxferlog_std_format=NO\nlog_ftp_protocol=YES\n"
                      "syslog_enable=NO\ndual_log_enable=NO\nvsftpd_log_file=" +
                      d.filePath(QStringLiteral("vsftpd.log")).toLocal8Bit() + "\n";
    if (!banner_.isEmpty()) {
        writeFile(d.filePath(QStringLiteral("banner")), banner_);
        conf += "banner_file=" + d.filePath(QStringLiteral("banner")).toLocal8Bit() + "\n";
    }
    if (!writeFile(d.filePath(QStringLiteral("pam.d/")) + PamService, pam) ||
        !writeFile(d.filePath(QStringLiteral("shadow")), "root:" + RootHash + ":19000:0:99999:7:::\n") ||
        !writeFile(d.filePath(QStringLiteral("vsftpd.conf")), conf))
        return QStringLiteral("cannot write vsftpd's files in ") + d.path();

    process_ = std::make_unique<QProcess>();
    process_->setProcessChannelMode(QProcess::MergedChannels);
    process_->start(QStringLiteral("unshare"),
                    mountedCommand(d.path(), QStringLiteral("exec ") + Vsftpd +
                                                 QStringLiteral(" \"$1/vsftpd.conf\"")));
    QDeadlineTimer deadline(StartTimeout);
    while (!accepts(address_, 21)) {
        if (deadline.hasExpired() || process_->state() == QProcess::NotRunning) {
            process_->waitForFinished(200);
            const QString said = QString::fromLocal8Bit(process_->readAll());
            stop();
            return QStringLiteral("vsftpd did not start: ") + said;
        }
        QThread::msleep(20);
    }
    return {};
}

void VsftpdServer::stop() {
    if (!process_)
        return;
    if (process_->state() != QProcess::NotRunning) {
        process_->terminate();
        if (!process_->waitForFinished(3000)) {
            process_->kill();
            process_->waitForFinished(3000);
        }
    }
    process_.reset();
}

} // namespace fw::test
