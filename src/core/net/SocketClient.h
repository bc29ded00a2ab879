#pragma once
// The one-connection blocking TCP client every HTTP exchange uses: open, connect, send a whole
// request, receive until the peer closes (into a buffer, or an HTTP body into a file). Used on
// the GUI thread (login, ROM read) or on the HTTP worker thread (upload), never both at once.

#include "ui/Sinks.h"

#include <QByteArray>
#include <QString>
#include <QtGlobal>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>

namespace fw {

class SocketClient {
public:
    // Bytes taken per receive call.
    static constexpr int ChunkSize = 1465;
    // Bytes handed to the platform per send call, and the socket's send buffer: the bar moves
    // in steps under 1 % of a 1 MiB image and never runs more than the buffer (the platform
    // may double it) ahead of what the router has taken. The bytes on the wire are the same.
    static constexpr qint64 SendChunk = 8 * 1024;
    static constexpr int SendBuffer = 64 * 1024;
    // The longest readiness wait before each send or receive call; it only filters error and
    // exception states, a wait that times out lets the blocking call go ahead.
    static constexpr std::chrono::seconds ReadyWait{3};
    // The platform's own connect time-out can be minutes; an unanswered router is given up sooner.
    static constexpr std::chrono::seconds DefaultConnectTimeout{10};
    // A stalled peer must not block a send or receive call forever. Generous: the program's
    // watchdog normally ends a stalled run first.
    static constexpr std::chrono::seconds DefaultTransferTimeout{60};

    // `box` shows the socket-stack boxes and ReceiveToFile's "error 03"; may be null.
    explicit SocketClient(BoxSink* box = nullptr);
    // Shuts down and closes the process-wide connection, then stops the socket stack.
    ~SocketClient();
    SocketClient(const SocketClient&) = delete;
    SocketClient& operator=(const SocketClient&) = delete;

    // Between the short waits of an exchange with a deadline.
    static constexpr std::chrono::milliseconds IdleSlice{20};

    void setBoxSink(BoxSink* box) { box_ = box; }
    // This exchange's own deadline, from now: the connect, every send and the whole reply end
    // by it however slowly the peer trickles. `idle` runs between short waits meanwhile (the
    // calling thread's events, so a window stays painted).
    void setExchangeDeadline(std::chrono::milliseconds budget, std::function<void()> idle = {});
    void setConnectTimeout(std::chrono::milliseconds t) { connectTimeout_ = t; }
    // Applies to sockets opened afterwards.
    void setTransferTimeout(std::chrono::milliseconds t) { transferTimeout_ = t; }

    // 1; -1 with lastError set (or untouched when the stack is not started); -10 when the TCP
    // option cannot be set.
    int OpenSocket();
    // IPv4 dotted text only, never a name. 1, or -1 with lastError set.
    int ConnectTo(const QString& address, quint16 port);
    // The whole length in calls of at most SendChunk bytes (advancing `progress` by each call's
    // count), 0 for length <= 0, -1.
    qint64 SendData(const char* data, qint64 length, ProgressSink* progress = nullptr);
    qint64 SendData(const QByteArray& data, ProgressSink* progress = nullptr) {
        return SendData(data.constData(), data.size(), progress);
    }
    // Receives until the peer closes. The buffer always holds the bytes so far and a zero byte;
    // at most capacity - 2 bytes fit. Total received, or -1.
    int ReceiveToBuffer(char* buffer, int capacity);
    // The same into `reply` (the received bytes without the zero byte).
    int ReceiveToBuffer(QByteArray& reply, int capacity);
    // An HTTP reply: " 200 OK" required in the first chunk, header dropped, body written to
    // `path` (an existing file is kept as path + ".BAK"). Total received (header included), or -1.
    // With `bodyLimit` >= 0 at most that many body bytes are written: the chunk that passes it
    // ends the reading, and *excess gets its bytes beyond the limit.
    qint64 ReceiveToFile(const QString& path, ProgressSink* progress = nullptr,
                         qint64 bodyLimit = -1, qint64* excess = nullptr);

    // The head of an HTTP reply as ReceiveToFile reads it from the first chunk: `chunk` holds `n`
    // received bytes (1 <= n <= ChunkSize) and zeros up to ChunkSize + 1 bytes. The body starts
    // after the first LF CR and one more byte; -1 with `error` set when the chunk has no
    // " 200 OK", no LF CR, or nothing after it. `badRequest`: the " 400 " answer ("error 03").
    struct ReplyHead {
        qint64 bodyStart = -1;
        bool badRequest = false;
        QString error;
    };
    static ReplyHead readReplyHead(const char* chunk, qint64 n);

    // The socket stack; on POSIX there is none to start, so these keep only the flag and the
    // start/stop balance, and their boxes cannot appear.
    static int StartNetwork(BoxSink* box);
    static int StopNetwork(BoxSink* box);
    static bool networkStarted() { return networkStarted_; }
    // Starts minus stops over the process so far.
    static int networkBalance() { return networkBalance_; }
    // True while the process-wide connection slot holds a socket.
    static bool connectionOpen();
    // Any thread: ends the exchange in progress on the process-wide connection, so that a send
    // or receive blocked in it fails at once. Its owner still closes the socket.
    static void abortConnection();

    QString lastError;

private:
    using Handle = std::intptr_t;
    static constexpr Handle InvalidHandle = -1;
    enum class Readiness { Ready, Exception, NotReady, TimedOut, Failed };
    enum class Direction { Send, Receive };

    Readiness waitReady(Direction direction, int* wsaError) const;
    // With a deadline: waits in short slices, running idle_, until the socket has something to
    // say; false with lastError set when the deadline has passed.
    bool waitWithinDeadline(Direction direction);
    bool readyFor(Direction direction);
    qint64 receiveChunk(Handle h, char* chunk);
    void setSocketError(const QString& prefix, int wsaError);

    // Platform layer (SocketClient_posix.cpp). Failures give a Windows Sockets error number.
    static Handle platformSocket(int* wsaError);
    static bool platformParseIPv4(const QByteArray& dotted, quint32* addressHostOrder);
    static bool platformSetNoDelay(Handle h);
    static void platformSetTransferTimeout(Handle h, std::chrono::milliseconds t);
    // Best effort: a platform that refuses keeps its own size.
    static void platformSetSendBuffer(Handle h, int bytes);
    static bool platformConnect(Handle h, quint32 addressHostOrder, quint16 port,
                                std::chrono::milliseconds timeout,
                                const std::function<void()>& idle);
    static Readiness platformWait(Handle h, Direction direction, std::chrono::milliseconds timeout,
                                  int* wsaError);
    // Bytes sent or received (0 = peer closed for receive), -1 with *wsaError set.
    static qint64 platformSend(Handle h, const char* data, qint64 length, int* wsaError);
    static qint64 platformReceive(Handle h, char* data, qint64 capacity, int* wsaError);
    static void platformClose(Handle h);
    static void platformShutdown(Handle h);
    static int platformLastError();

    BoxSink* box_ = nullptr;
    std::chrono::milliseconds connectTimeout_ = DefaultConnectTimeout;
    std::chrono::milliseconds transferTimeout_ = DefaultTransferTimeout;
    std::optional<std::chrono::steady_clock::time_point> deadline_;
    std::chrono::milliseconds budget_{0};
    std::function<void()> idle_;

    // Process-wide: the one connection of the process and the socket-stack state.
    static std::atomic<Handle> slot_;
    static std::atomic<bool> networkStarted_;
    static std::atomic<int> networkBalance_;
};

} // namespace fw
