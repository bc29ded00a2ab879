// The FTP client's reply reader over a hostile server's control connection (one end of a socket
// pair holds the server's bytes, then its end of the stream): every reply line is the server's
// bytes in order, at most MaxLineLength long, its reply number is its leading digits, and the
// only failures are the client's own exceptions; the reading always ends.

#include "FuzzSupport.h"
#include "ftp/TFtpClient.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace fw;
using fw::fuzz::require;

namespace {

// The client on an already open control connection.
class AttachedClient : public TFtpClient {
public:
    explicit AttachedClient(int fd) { fd_ = fd; }
};

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::ensureApp();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 65536)
        return 0; // the socket pair's buffer holds the whole reply stream
    const QByteArray stream = fuzz::bytesOf(data, size);
    int fds[2];
    require(::socketpair(AF_UNIX, SOCK_STREAM, 0, fds) == 0, "socket pair");
    const int bigBuffer = 1 << 20;
    ::setsockopt(fds[1], SOL_SOCKET, SO_SNDBUF, &bigBuffer, sizeof bigBuffer);
    ::setsockopt(fds[0], SOL_SOCKET, SO_RCVBUF, &bigBuffer, sizeof bigBuffer);
    for (qsizetype sent = 0; sent < stream.size();) {
        const ssize_t n =
            ::send(fds[1], stream.constData() + sent, size_t(stream.size() - sent), 0);
        require(n > 0, "the server's bytes fit the socket pair");
        sent += n;
    }
    ::shutdown(fds[1], SHUT_WR);
    ::fcntl(fds[0], F_SETFL, ::fcntl(fds[0], F_GETFL) | O_NONBLOCK);

    QList<QByteArray> lines;
    {
        AttachedClient client(fds[0]);
        int transactions = 0;
        for (; transactions < 100000; ++transactions) {
            try {
                const QByteArray reply = client.Transaction("NOOP");
                require(reply == client.LastReply, "the reply is LastReply");
                require(reply.size() <= TTcpSocket::MaxLineLength, "a reply line is capped");
                require(client.ReplyNumber == TTcpSocket::replyNumberOf(reply),
                        "the reply number is the line's leading digits");
                require(!reply.isEmpty(), "an empty reply is the closed connection");
                lines << reply;
            } catch (const EFtpReply&) {
                require(false, "Transaction itself never refuses");
            } catch (const ESocketError&) {
                break;
            } catch (const EWaitAborted&) {
                break;
            }
        }
        require(transactions < 100000, "the reading ends");
    }
    ::close(fds[1]);

    // Each first line is the server's next bytes (continuation lines between them skipped).
    qsizetype cursor = 0;
    for (const QByteArray& line : lines) {
        const QByteArray probe = line.size() < TTcpSocket::MaxLineLength
                                     ? line
                                     : line.left(TTcpSocket::MaxLineLength - 2);
        const qsizetype at = stream.indexOf(probe, cursor);
        require(at >= cursor, "reply lines are the server's bytes, in order");
        cursor = at + probe.size();
    }
    return 0;
}
