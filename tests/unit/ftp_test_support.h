#pragma once
// Helpers for the FTP tests: the application object the client's waits process events of, an
// in-process FTP server on 127.0.0.1 (an ephemeral port), and files in a private directory.

#include "FtpServer.h"

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <chrono>
#include <memory>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace fw::test {

using namespace std::chrono_literals;

inline QCoreApplication& ftpTestApp() {
    static int argc = 1;
    static char name[] = "ftp_test";
    static char* argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv);
    return app;
}

// Starts a server with `options` (FtpServerConfig::parse); null on failure (the test fails).
inline std::unique_ptr<routersim::FtpServer> startFtpServer(const QString& options = {}) {
    ftpTestApp();
    QString error;
    auto cfg = routersim::FtpServerConfig::parse(options, &error);
    EXPECT_TRUE(cfg) << error.toStdString();
    if (!cfg)
        return nullptr;
    auto server = std::make_unique<routersim::FtpServer>(*cfg);
    EXPECT_TRUE(server->start(QStringLiteral("127.0.0.1"), 0, &error)) << error.toStdString();
    return server;
}

inline QString writeFile(const QTemporaryDir& dir, const QString& name, const QByteArray& bytes) {
    const QString path = dir.filePath(name);
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size())
        return {};
    return path;
}

inline QByteArray readFile(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Bytes that differ from position to position, so a shifted or lost piece shows.
inline QByteArray patternBytes(qsizetype size, int seed) {
    QByteArray b(size, '\0');
    quint32 x = quint32(seed) * 2654435761u + 1;
    for (qsizetype i = 0; i < size; ++i) {
        x = x * 1103515245u + 12345u;
        b[i] = char(x >> 16);
    }
    return b;
}

// A TCP port on 127.0.0.1 that nothing listens on: bound, never listened on, and kept bound
// by the returned descriptor (close it when done), so a connection to it is refused.
inline int closedPort(quint16* port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof sa;
    ::bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &len);
    *port = ntohs(sa.sin_port);
    return fd;
}

} // namespace fw::test
