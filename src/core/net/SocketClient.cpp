#include "net/SocketClient.h"

#include "net/SocketErrors.h"

#include <QFile>
#include <algorithm>
#include <array>
#include <cstring>

namespace fw {

std::atomic<SocketClient::Handle> SocketClient::slot_{SocketClient::InvalidHandle};
std::atomic<bool> SocketClient::networkStarted_{false};
std::atomic<int> SocketClient::networkBalance_{0};

namespace {

// The chunk buffer keeps one byte for the zero after the received bytes; the header scan may
// look at that byte too.
using ChunkBuffer = std::array<char, SocketClient::ChunkSize + 1>;

} // namespace

SocketClient::SocketClient(BoxSink* box) : box_(box) {
    StartNetwork(box_);
}

SocketClient::~SocketClient() {
    const Handle h = slot_.exchange(InvalidHandle);
    if (h != InvalidHandle)
        platformClose(h);
    StopNetwork(box_);
}

int SocketClient::StartNetwork(BoxSink*) {
    networkStarted_ = false;
    // Nothing to start on POSIX; the flag and the balance keep the calling pattern visible.
    ++networkBalance_;
    networkStarted_ = true;
    return 1;
}

int SocketClient::StopNetwork(BoxSink*) {
    --networkBalance_;
    return 1;
}

bool SocketClient::connectionOpen() {
    return slot_ != InvalidHandle;
}

void SocketClient::abortConnection() {
    const Handle h = slot_.load();
    if (h != InvalidHandle)
        platformShutdown(h);
}

void SocketClient::setSocketError(const QString& prefix, int wsaError) {
    lastError = prefix + QString::number(wsaError) + QLatin1Char(' ') + SocketErrorText(wsaError);
}

int SocketClient::OpenSocket() {
    if (!networkStarted_)
        return -1;
    if (StopNetwork(box_) < 0) {
        lastError = QStringLiteral("Windows Sockets Close Error.");
        return -1;
    }
    if (StartNetwork(box_) < 0) {
        lastError = QStringLiteral("Windows Sockets is not available.");
        return -1;
    }
    int err = 0;
    const Handle h = platformSocket(&err);
    // A socket left in the slot by a caller that skipped the destroy would otherwise leak.
    const Handle previous = slot_.exchange(h);
    if (previous != InvalidHandle)
        platformClose(previous);
    if (h == InvalidHandle) {
        setSocketError(QStringLiteral("Socket Error: "), err);
        return -1;
    }
    platformSetTransferTimeout(h, transferTimeout_);
    platformSetSendBuffer(h, SendBuffer);
    if (!platformSetNoDelay(h))
        return -10;
    return 1;
}

void SocketClient::setExchangeDeadline(std::chrono::milliseconds budget,
                                       std::function<void()> idle) {
    budget_ = budget;
    deadline_ = std::chrono::steady_clock::now() + budget;
    idle_ = std::move(idle);
}

bool SocketClient::waitWithinDeadline(Direction direction) {
    if (!deadline_)
        return true;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            *deadline_ - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            lastError =
                QStringLiteral("The router did not complete the exchange within %1 s")
                    .arg(double(budget_.count()) / 1000.0);
            return false;
        }
        int err = 0;
        if (platformWait(slot_, direction, std::min(left, IdleSlice), &err) != Readiness::TimedOut)
            return true; // ready, or a state the readiness wait reports
        if (idle_)
            idle_();
    }
}

int SocketClient::ConnectTo(const QString& address, quint16 port) {
    quint32 ip = 0;
    const Handle h = slot_;
    auto timeout = connectTimeout_;
    if (deadline_)
        timeout = std::min(timeout, std::chrono::duration_cast<std::chrono::milliseconds>(
                                        *deadline_ - std::chrono::steady_clock::now()));
    if (h == InvalidHandle || !platformParseIPv4(address.toLatin1(), &ip) ||
        !platformConnect(h, ip, port, timeout, idle_)) {
        lastError = QStringLiteral("Failed to connect socket to IP : ") + address +
                    QStringLiteral(" and port : ") + QString::number(port);
        return -1;
    }
    return 1;
}

SocketClient::Readiness SocketClient::waitReady(Direction direction, int* wsaError) const {
    const Readiness r = platformWait(slot_, direction, ReadyWait, wsaError);
    return r == Readiness::TimedOut ? Readiness::Ready : r;
}

// The readiness wait only filters error and exception states; a quiet socket is tried anyway.
bool SocketClient::readyFor(Direction direction) {
    const bool send = direction == Direction::Send;
    int err = 0;
    switch (waitReady(direction, &err)) {
    case Readiness::Failed:
        setSocketError(QStringLiteral("Socket Error: "), err);
        return false;
    case Readiness::Exception:
        lastError = send ? QStringLiteral("Unexcept condition to send data ")
                         : QStringLiteral("Unexcept condition to receive data ");
        return false;
    case Readiness::NotReady:
        lastError = send ? QStringLiteral("Unexcept condition in send data ")
                         : QStringLiteral("Unexcept condition in receive data ");
        return false;
    case Readiness::Ready:
    case Readiness::TimedOut:
        break;
    }
    return true;
}

// Reads one chunk of at most ChunkSize bytes into `chunk` (ChunkSize + 1 bytes), zero-terminated.
// Returns its length, 0 when the peer closed or the read failed, -1 when the wait failed.
qint64 SocketClient::receiveChunk(Handle h, char* chunk) {
    std::memset(chunk, 0, size_t(ChunkSize) + 1);
    if (!waitWithinDeadline(Direction::Receive) || !readyFor(Direction::Receive))
        return -1;
    int err = 0;
    const qint64 n = platformReceive(h, chunk, ChunkSize, &err);
    if (n <= 0)
        return 0;
    chunk[n] = '\0';
    return n;
}

qint64 SocketClient::SendData(const char* data, qint64 length, ProgressSink* progress) {
    const Handle h = slot_;
    if (h == InvalidHandle) {
        setSocketError(QStringLiteral("Send Socket Error: "), platformLastError());
        return -1;
    }
    if (length <= 0)
        return 0;
    qint64 sent = 0;
    while (sent < length) {
        if (!waitWithinDeadline(Direction::Send) || !readyFor(Direction::Send))
            return -1;
        int err = 0;
        const qint64 n = platformSend(h, data + sent, std::min(length - sent, SendChunk), &err);
        if (n < 0) {
            setSocketError(QStringLiteral("Send Data Error: "), err);
            return -1;
        }
        sent += n;
        if (progress)
            progress->advanceProgress(n);
    }
    return sent;
}

int SocketClient::ReceiveToBuffer(char* buffer, int capacity) {
    if (capacity > 0)
        buffer[0] = '\0';
    const Handle h = slot_;
    if (h == InvalidHandle) {
        lastError = QStringLiteral("INVALID_SOCKET in receive data.");
        return -1;
    }
    int total = 0;
    ChunkBuffer chunk;
    for (;;) {
        const qint64 n = receiveChunk(h, chunk.data());
        if (n < 0)
            return -1;
        if (n == 0) {
            // Peer closed, or an error: after some data it is the end of the reply.
            if (total <= 0) {
                lastError = QStringLiteral("Read Data error!");
                return -1;
            }
            return total;
        }
        // The n bytes and their zero byte must end before the last byte of the buffer.
        if (qint64(total) + n + 1 >= capacity) {
            const qint64 fits = std::max<qint64>(0, capacity - total);
            std::memcpy(buffer + total, chunk.data(), size_t(std::min(fits, n + 1)));
            lastError = QStringLiteral("Read Data grater than receive buffer!");
            return -1;
        }
        std::memcpy(buffer + total, chunk.data(), size_t(n + 1));
        total += int(n);
    }
}

int SocketClient::ReceiveToBuffer(QByteArray& reply, int capacity) {
    reply = QByteArray(std::max(capacity, 0), '\0');
    const int n = ReceiveToBuffer(reply.data(), capacity);
    reply.truncate(std::max(n, 0));
    return n;
}

SocketClient::ReplyHead SocketClient::readReplyHead(const char* chunk, qint64 n) {
    ReplyHead head;
    const QByteArrayView first(chunk, n);
    if (!first.contains(QByteArrayView(" 200 OK"))) {
        head.badRequest = first.contains(QByteArrayView(" 400 "));
        head.error = head.badRequest ? QStringLiteral("Bad Request !")
                                     : QStringLiteral("unknown response error code !");
        return head;
    }
    // The blank line CR LF CR LF: a line feed followed by a carriage return.
    qint64 i = 0;
    while (i < ChunkSize && !(chunk[i] == '\n' && chunk[i + 1] == '\r'))
        ++i;
    if (i >= ChunkSize) {
        head.error = QStringLiteral("HTTP header parse error !");
        return head;
    }
    if (i + 3 >= n) {
        head.error = QStringLiteral("HTTP header parse length error !");
        return head;
    }
    head.bodyStart = i + 3;
    return head;
}

qint64 SocketClient::ReceiveToFile(const QString& path, ProgressSink* progress, qint64 bodyLimit,
                                   qint64* excess) {
    if (excess)
        *excess = 0;
    const Handle h = slot_;
    if (h == InvalidHandle) {
        lastError = QStringLiteral("INVALID_SOCKET in receive data.");
        return -1;
    }
    if (QFile::exists(path)) {
        // The previous backup gives way, so the current file always survives as the new one.
        const QString backup = path + QStringLiteral(".BAK");
        QFile::remove(backup);
        if (!QFile::rename(path, backup)) {
            lastError = QStringLiteral("ROM file create error");
            return -1;
        }
    }
    QFile file(path);
    // Unbuffered: every write reaches the file system and is checked whole there, so a full
    // disk is this read's failure, not a loss at close.
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered)) {
        lastError = QStringLiteral("ROM file create error");
        return -1;
    }
    qint64 total = 0;
    qint64 written = 0;
    ChunkBuffer chunk;
    for (;;) {
        const qint64 n = receiveChunk(h, chunk.data());
        if (n < 0)
            return -1;
        if (n == 0) {
            if (total <= 0) {
                lastError = QStringLiteral("Read Data error!");
                return -1;
            }
            return total;
        }
        qint64 bodyStart = 0;
        if (total == 0) {
            const ReplyHead head = readReplyHead(chunk.data(), n);
            if (head.bodyStart < 0) {
                if (head.badRequest && box_)
                    box_->showBox(QStringLiteral("error 03"), QStringLiteral("File Error"),
                                  BoxButtons::OkCancel);
                lastError = head.error;
                return -1;
            }
            bodyStart = head.bodyStart;
        }
        qint64 body = n - bodyStart;
        qint64 over = 0;
        if (bodyLimit >= 0 && written + body > bodyLimit) {
            over = written + body - bodyLimit;
            body -= over;
        }
        if (body > 0 && file.write(chunk.data() + bodyStart, body) != body) {
            lastError = QStringLiteral("ROM file write error: ") + path;
            return -1;
        }
        written += body;
        if (progress)
            progress->advanceProgress(n);
        total += n;
        if (over > 0) {
            // A router that keeps sending is not read further.
            if (excess)
                *excess = over;
            return total;
        }
    }
}

} // namespace fw
