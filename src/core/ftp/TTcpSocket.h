#pragma once
// The TCP socket component under the FTP client: one non-blocking IPv4 stream socket (a control
// connection, or a listening data socket that accepts one connection), a one-shot time-out
// timer, and waits that sleep at most 2 ms per pass while the calling thread's events keep
// being processed. Failures are raised as the exceptions of FtpExceptions.h. GUI thread.

#include "ftp/FtpExceptions.h"
#include "process/EventWait.h"

#include <QByteArray>
#include <QString>
#include <QtGlobal>
#include <chrono>
#include <functional>

namespace fw {

class TTcpSocket {
public:
    // Status report levels.
    static constexpr int LevelCommand = 1;
    static constexpr int LevelList = 2;
    static constexpr int LevelBuffer = 4;
    static constexpr int LevelTrace = 8;

    // One pass of every wait: the longest sleep before events are processed again.
    static constexpr std::chrono::milliseconds WaitSlice{2};
    // While data is sent the calling thread's events run at most this often (and at every
    // wait); a window needs no more, and a send call each time would slow the transfer.
    static constexpr std::chrono::milliseconds PacketEventInterval{10};
    // Bytes peeked, received or read from a file at a time.
    static constexpr qint64 BufferSize = 65536;
    // A reply line is cut here; the rest of an over-long line is read and dropped.
    static constexpr qsizetype MaxLineLength = 8192;
    // A reply wait is not ended by the time-out timer (a router may take long to store a
    // file), but a whole reply must end some time: the program's watchdog normally ends it
    // first. Its bytes are bounded too, whatever its line count (a long banner is fine).
    static constexpr std::chrono::seconds DefaultReplyWaitLimit{120};
    static constexpr qint64 DefaultReplyByteLimit = qint64(1) << 20;
    // Waiting for the server's data connection and sending to a peer that has stopped reading
    // have no time-out timer of their own; these bounds end them.
    static constexpr std::chrono::seconds DefaultAcceptWaitLimit{30};
    static constexpr std::chrono::seconds DefaultSendStallLimit{30};

    // `owner` (the control connection of a data socket) has its timers checked during this
    // socket's waits too.
    explicit TTcpSocket(TTcpSocket* owner = nullptr);
    virtual ~TTcpSocket();
    TTcpSocket(const TTcpSocket&) = delete;
    TTcpSocket& operator=(const TTcpSocket&) = delete;

    QString Host;
    quint16 Port = 0;
    std::chrono::milliseconds TimeOut{0}; // 0: no time-out
    int ReportLevel = LevelTrace;

    int ReplyNumber = 0;
    QByteArray LastReply;
    qint64 BytesSent = 0;
    qint64 BytesRcvd = 0;

    std::chrono::milliseconds ReplyWaitLimit = DefaultReplyWaitLimit;
    qint64 ReplyByteLimit = DefaultReplyByteLimit;
    std::chrono::milliseconds AcceptWaitLimit = DefaultAcceptWaitLimit;
    std::chrono::milliseconds SendStallLimit = DefaultSendStallLimit;

    std::function<void(TTcpSocket& sender, const QString& text)> OnStatus;
    std::function<void(TTcpSocket& sender, int number, const QString& text)> OnError;
    std::function<void(TTcpSocket& sender)> OnPacketSent;
    std::function<void(TTcpSocket& sender)> OnPacketRecvd;
    std::function<void(TTcpSocket& sender)> OnDisconnect;

    // True while the connection is up; a peer that has closed is noticed here.
    bool Connected();
    bool Canceled() const { return canceled_; }
    bool TimedOut() const { return timedOut_; }
    // Makes a waiting operation stop.
    void Cancel() { canceled_ = true; }

    virtual void Connect();
    // Closes the socket (the control connection overrides it with its "QUIT").
    virtual void Disconnect();
    // Sends the command and CR LF, reads one line into LastReply and sets ReplyNumber.
    virtual QByteArray Transaction(const QByteArray& command);
    // Called when the time-out timer fires: cancels this component.
    virtual void Abort();

    // One line up to and including its line feed; empty when the peer has closed. A line of a
    // reply shares the reply's `deadline` and byte `budget`: past either the connection is
    // closed and EReplyBound raised.
    QByteArray ReadLn();
    QByteArray ReadLn(std::chrono::steady_clock::time_point deadline, qint64& budget);
    // Sends all of `data`; raises on a socket error or a cancel. With `packets`, every send
    // adds to BytesSent, fires OnPacketSent and lets events run.
    void SendAll(const char* data, qint64 length, bool packets = false);
    // Drops whatever input has already arrived.
    void DiscardInput();
    void TimerOn();
    void TimerOff();

    // Data socket side: listen on 0.0.0.0 and any port, wait for one connection and take it.
    void Listen();
    quint16 LocalPort() const;
    // IPv4 address (host order) of this socket's local end; 0 when unknown.
    quint32 LocalAddress() const;
    void AcceptIncoming();
    // Up to `capacity` bytes as they come; 0 when the peer has closed. Raises on a cancel.
    qint64 ReceiveBlock(char* buffer, qint64 capacity);
    // Closes with the platform's default (graceful) closing, so the peer sees the end of data.
    void CloseGracefully();
    // Ends the sending direction only: the peer sees the end of data, and its own close can
    // still be seen.
    void ShutdownSend();
    // After ShutdownSend: true when the peer closes its side cleanly (end of stream) within
    // `bound`; false on a reset, an error or silence.
    bool PeerClosedCleanly(std::chrono::milliseconds bound);

    // The leading decimal digits (at most 10) of a reply line; 0 when there are none.
    static int replyNumberOf(const QByteArray& line);

protected:
    void report(int level, const QString& text);
    // The command and CR LF, cut at a line end inside it.
    void sendCommand(const QByteArray& command);
    // Reports a failed socket call by its Windows Sockets number and raises ESocketError.
    [[noreturn]] void raiseSocketError(int wsaNumber);
    // Reports a socket error without raising.
    void signalError(int wsaNumber);
    // The one wait of every socket operation: until the socket is ready for `events` (poll
    // flags; always when it is closed), a cancel (with `timerEnds`, the time-out timer too), or
    // `deadline`. Events and timers run meanwhile.
    EventWait::End waitFor(short events, std::chrono::steady_clock::time_point deadline,
                           bool timerEnds = false);
    // One pass's block: waits on the socket for `events` (or sleeps), then checks the timers.
    EventWait::Block socketBlock(short events);
    virtual void checkTimers();
    void checkOwnTimer();
    virtual void connectionFailed() {}
    void closeSocket();
    // The peer has closed the connection (noticed by a read).
    bool peerClosed() const { return peerClosed_; }
    void clearCancel() {
        canceled_ = false;
        timedOut_ = false;
    }

    int fd_ = -1;
    bool listening_ = false;

private:
    // A non-blocking stream socket in fd_, or ESocketError.
    void openStreamSocket();
    friend class TFtpClient;
    quint32 resolveHost();

    TTcpSocket* owner_ = nullptr;
    bool connected_ = false;
    bool canceled_ = false;
    bool timedOut_ = false;
    bool peerClosed_ = false;
    bool timerArmed_ = false;
    std::chrono::steady_clock::time_point timerDue_{};
    // When the events may run again while data is sent (over all the sends of a transfer).
    std::chrono::steady_clock::time_point nextEvents_{};
    QByteArray buffer_;
};

} // namespace fw
