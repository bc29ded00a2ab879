#pragma once
// Debian's vsftpd as a router's FTP server for the end-to-end tests: started inside the test's
// private network namespace and, with `unshare -m`, in a private mount namespace of its own,
// where a PAM configuration and an account file of the test's are bound over the host's, so
// "root" may log in with the test password. Nothing of the host's is changed. Files stored land
// in a private directory. Main thread of a test executable.

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>

#include <chrono>
#include <memory>

namespace fw::test {

class VsftpdServer {
public:
    // The password "root" logs in with.
    static const QString RootPassword;
    static constexpr std::chrono::milliseconds StartTimeout{10000};

    // `banner`: lines sent before the greeting's last line (a long banner), may be empty.
    explicit VsftpdServer(QString address, QByteArray banner = {});
    ~VsftpdServer();
    VsftpdServer(const VsftpdServer&) = delete;
    VsftpdServer& operator=(const VsftpdServer&) = delete;

    // Why vsftpd cannot be run in a private mount namespace here (empty when it can).
    static QString unavailable();

    // Starts it and waits until it accepts connections on ADDRESS:21; empty on success, else
    // the reason with vsftpd's own words.
    QString start();
    void stop();

    // Where stored files land (the FTP session's initial directory).
    QString filesDir() const;
    // vsftpd's protocol and transfer log so far.
    QByteArray log() const;

private:
    QString address_;
    QByteArray banner_;
    QTemporaryDir dir_;
    std::unique_ptr<QProcess> process_;
};

} // namespace fw::test

// In a test: skip where the mount namespace for vsftpd cannot be made (fail under CI=true).
#define FW_REQUIRE_VSFTPD()                                                                        \
    do {                                                                                           \
        const QString why = ::fw::test::VsftpdServer::unavailable();                               \
        if (!why.isEmpty()) {                                                                      \
            if (::fw::test::NetNamespace::mustRun())                                               \
                GTEST_FAIL() << "vsftpd in a private mount namespace required (CI=true): "         \
                             << why.toStdString();                                                 \
            else                                                                                   \
                GTEST_SKIP() << "vsftpd cannot run in a private mount namespace here, test "       \
                                "skipped: "                                                        \
                             << why.toStdString();                                                 \
        }                                                                                          \
    } while (0)
