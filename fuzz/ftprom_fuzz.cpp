// The ROM read over FTP against a server whose data connection sends any bytes in any pieces:
// the local file gets at most LENGTH bytes (the download limit), exactly the first bytes the
// server sent. Runs in a private network namespace of its own (the data connection listens on
// every address), with a small FTP server on a thread of this process.

#include "FuzzSupport.h"
#include "ftp/TFtpClient.h"

#include <QFile>
#include <QTemporaryDir>

#include <arpa/inet.h>
#include <cstdio>
#include <cstring>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

using namespace fw;
using fw::fuzz::require;

namespace {

bool g_isolated = false;

QTemporaryDir& dir() {
    static QTemporaryDir* d = new QTemporaryDir;
    return *d;
}

// A network of this process alone, with its loopback up; false when none can be made.
bool enterPrivateNetwork() {
    if (::unshare(CLONE_NEWNET) != 0 && ::unshare(CLONE_NEWUSER | CLONE_NEWNET) != 0)
        return false;
    const int s = ::socket(AF_INET, SOCK_DGRAM, 0);
    ifreq ifr{};
    std::strcpy(ifr.ifr_name, "lo");
    const bool up = s >= 0 && ::ioctl(s, SIOCGIFFLAGS, &ifr) == 0 &&
                    (ifr.ifr_flags |= IFF_UP | IFF_RUNNING, ::ioctl(s, SIOCSIFFLAGS, &ifr) == 0);
    if (s >= 0)
        ::close(s);
    return up;
}

void sendAll(int fd, const char* p, size_t n) {
    while (n > 0) {
        const ssize_t k = ::send(fd, p, n, MSG_NOSIGNAL);
        if (k <= 0)
            return; // the client stopped reading: its limit was reached
        p += k;
        n -= size_t(k);
    }
}

// One command line from the client; empty when it has closed or stays silent.
std::string readLine(int fd) {
    std::string line;
    for (char c; line.size() < 512;) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 5000) <= 0 || ::recv(fd, &c, 1, 0) != 1)
            return {};
        line += c;
        if (c == '\n')
            return line;
    }
    return line;
}

// The server's side: login, PORT, RETR with the data sent in pieces of `piece` bytes.
void serve(int listener, const QByteArray& data, int piece) {
    pollfd p{listener, POLLIN, 0};
    if (::poll(&p, 1, 5000) <= 0)
        return;
    const int c = ::accept(listener, nullptr, nullptr);
    if (c < 0)
        return;
    const auto reply = [c](const char* text) { sendAll(c, text, std::strlen(text)); };
    reply("220 router\r\n");
    quint16 dataPort = 0;
    for (std::string line; !(line = readLine(c)).empty();) {
        if (line.rfind("USER", 0) == 0) {
            reply("331 Password required\r\n");
        } else if (line.rfind("PASS", 0) == 0) {
            reply("230 Logged in\r\n");
        } else if (line.rfind("PORT ", 0) == 0) {
            unsigned a[6] = {};
            std::sscanf(line.c_str() + 5, "%u,%u,%u,%u,%u,%u", &a[0], &a[1], &a[2], &a[3], &a[4],
                        &a[5]);
            dataPort = quint16(a[4] << 8 | a[5]);
            reply("200 PORT ok\r\n");
        } else if (line.rfind("RETR", 0) == 0) {
            reply("150 Opening data connection\r\n");
            const int d = ::socket(AF_INET, SOCK_STREAM, 0);
            sockaddr_in to{};
            to.sin_family = AF_INET;
            to.sin_port = htons(dataPort);
            to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            if (d >= 0 && ::connect(d, reinterpret_cast<sockaddr*>(&to), sizeof to) == 0) {
                for (qsizetype at = 0; at < data.size(); at += piece)
                    sendAll(d, data.constData() + at,
                            size_t(std::min<qsizetype>(piece, data.size() - at)));
            }
            if (d >= 0)
                ::close(d);
            reply("226 Transfer complete\r\n");
        } else if (line.rfind("QUIT", 0) == 0) {
            reply("221 Bye\r\n");
            break;
        } else {
            reply("500 Unknown\r\n");
        }
    }
    ::close(c);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    g_isolated = enterPrivateNetwork();
    if (!g_isolated)
        std::fprintf(stderr, "ftprom_fuzz: no private network namespace; nothing is fuzzed\n");
    fuzz::ensureApp();
    require(dir().isValid(), "temporary directory");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
    // Never a socket outside a network of our own.
    if (!g_isolated || size < 3)
        return 0;
    const int word = bytes[0] << 8 | bytes[1];
    const qint64 limit = word == 0xFFFF ? -1 : word % 9000; // LENGTH, or no limit
    const int piece = 1 + bytes[2] * 37;
    const QByteArray data = fuzz::bytesOf(bytes + 3, size - 3);

    const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof at;
    require(listener >= 0 && ::bind(listener, reinterpret_cast<sockaddr*>(&at), sizeof at) == 0 &&
                ::listen(listener, 1) == 0 &&
                ::getsockname(listener, reinterpret_cast<sockaddr*>(&at), &len) == 0,
            "the server listens");
    std::thread server(serve, listener, data, piece);

    const QString path = dir().filePath(QStringLiteral("rom.bin"));
    QFile::remove(path);
    bool received = false;
    {
        TFtpClient client;
        client.Host = QStringLiteral("127.0.0.1");
        client.Port = ntohs(at.sin_port);
        client.UserID = QStringLiteral("root");
        client.Password = QStringLiteral("pw");
        client.TimeOut = std::chrono::seconds(5);
        client.DownloadLimit = limit;
        try {
            client.Connect();
            client.Download(QStringLiteral("256#") + QString::number(limit), path);
            received = true;
            client.Disconnect();
        } catch (const FtpException& e) {
            std::fprintf(stderr, "ftprom_fuzz: %s\n", e.what());
        }
    }
    server.join();
    ::close(listener);

    require(received, "a download from a well-behaved server succeeds");
    QFile file(path);
    require(file.open(QIODevice::ReadOnly), "the local file exists");
    const QByteArray written = file.readAll();
    const qsizetype expected = limit < 0 ? data.size() : std::min<qsizetype>(limit, data.size());
    require(written.size() <= (limit < 0 ? data.size() : limit), "at most LENGTH bytes written");
    require(written == data.left(expected), "exactly the first bytes the server sent");
    return 0;
}
