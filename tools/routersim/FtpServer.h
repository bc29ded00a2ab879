#pragma once
// The simulated router's FTP server: greeting, USER/PASS login, PORT (active data connections
// to the client's own address only), STOR saving each file byte-exact, RETR of
// "<offset>#<length>" serving ROM bytes, QUIT; knobs for refusals, 429 rejections, silence and
// a data connection that goes quiet. Accepts on a thread of its own and serves each control
// connection (at most MaxSessions at once) on a thread of its own; start() and the accessors
// may be called from any thread. Every byte received on the
// control connection is kept as a transcript.
//
// Options (FtpServerConfig::parse, "key=value,key=value"):
//   password=TEXT      the right login password (default "admin"); a wrong one gets 530
//   user=230           USER is answered 230 (no password asked)
//   multiline=1        the greeting comes in three lines ("220-" continuation lines)
//   greeting=CODE, user=CODE, pass=CODE, port=CODE, stor=CODE, retr=CODE, quit=CODE
//                      answer that command (or the greeting) with CODE and a fixed text
//   storreply=CODE     the reply after a stored file (default 226; 429 rejects the file)
//   retrreply=CODE     the reply after a served ROM read (default 226)
//   stall=CMD          CMD (or "greeting") is never answered; the connection stays open
//   delay=CMD:MS       CMD (or "greeting") is answered after MS milliseconds
//   close=CMD          the control connection is closed instead of answering CMD
//   closeafter=N       the control connection is closed after the N-th stored file's reply
//   retrextra=N        RETR sends N bytes more than the length asked for
//   retrshort=N        RETR sends N bytes fewer than the length asked for
//   noreply=CMD        after the data of STOR or RETR, the control connection is closed
//                      instead of sending the transfer reply (a router rebooting to flash)
//   storcut=N          STOR stops reading after N bytes and closes both connections
//   datastall=N        RETR sends N bytes, then the data connection stays open and silent
//   dir=PATH           each stored file is also written to PATH/<name>
//   keep=N             bytes of each stored file kept in memory (default 64 MiB)
//   rom=PATH           RETR serves PATH's bytes; without it byte i of the ROM is i mod 256
//   transcript=PATH    append every byte received on the control connection to PATH
//   idle=MS            close a control connection idle this long (default 30000)

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QString>
#include <QtGlobal>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace routersim {

class RouterRestart;

struct FtpServerConfig {
    QByteArray password = "admin";
    // Raw replies (whole lines with CR LF) by upper-case command, or "GREETING", "STORDONE",
    // "RETRDONE"; in-process tests may put any bytes here.
    QMap<QByteArray, QByteArray> replies;
    bool user230 = false;
    bool multiline = false;
    QByteArray stall;   // upper-case command or "GREETING"
    QByteArray closeOn; // upper-case command
    QByteArray delayOn; // upper-case command or "GREETING"
    std::chrono::milliseconds delay{0};
    qint64 dataStall = -1;
    int closeAfter = -1;
    qint64 retrExtra = 0;
    qint64 retrShort = 0;
    QByteArray noReply; // "STOR" or "RETR"
    qint64 storCut = -1;
    QString directory;
    qint64 keep = qint64(64) << 20;
    QString romPath;
    QString transcriptPath;
    std::chrono::milliseconds idle{30000};

    // From the router's restart knob: the restart begins when a session that stored a file
    // ends; while silent, new connections are closed at once.
    std::shared_ptr<RouterRestart> restart;

    static std::optional<FtpServerConfig> parse(const QString& options, QString* error = nullptr);
};

class FtpServer {
public:
    struct StoredFile {
        QByteArray name;
        QByteArray bytes; // up to keep bytes
        qint64 size = 0;
    };

    // The longest ROM read served.
    static constexpr qint64 MaxRomRead = qint64(64) << 20;
    // Control connections served at once; further ones are closed at once.
    static constexpr int MaxSessions = 16;

    explicit FtpServer(FtpServerConfig config = {});
    ~FtpServer();
    FtpServer(const FtpServer&) = delete;
    FtpServer& operator=(const FtpServer&) = delete;

    // Listens on `address` and `port` (0: an ephemeral port) and starts serving.
    bool start(const QString& address = QStringLiteral("127.0.0.1"), quint16 port = 0,
               QString* error = nullptr);
    void stop();
    quint16 port() const { return port_; }

    void setConfig(const FtpServerConfig& config);
    FtpServerConfig config() const;

    // Every byte received on control connections, in order.
    QByteArray transcript() const;
    // The command lines received, without their line ends.
    QList<QByteArray> commands() const;
    QList<StoredFile> storedFiles() const;
    // Control connections accepted so far.
    int connectionCount() const;
    // Control connections that have ended (closed by either side).
    int closedCount() const;
    // True once `count` command lines have arrived; false after `timeout`.
    bool waitForCommands(int count, std::chrono::milliseconds timeout) const;
    bool waitForClosed(int count, std::chrono::milliseconds timeout) const;
    void clear();

private:
    // One control connection.
    struct Session {
        int fd = -1;
        quint32 peer = 0;
        quint32 dataAddress = 0;
        quint16 dataPort = 0;
        bool loggedIn = false;
        int stored = 0;       // files stored on this connection
        int stalledData = -1; // a data connection kept open and silent
    };

    void run();
    void serve(Session& s);
    // False when the connection is to be closed.
    bool command(Session& s, const QByteArray& line, const FtpServerConfig& cfg);
    bool sendAll(int fd, const QByteArray& bytes);
    // Sleeps, ending early on stop().
    void pause(std::chrono::milliseconds t) const;
    int openData(Session& s);
    // False when the control connection is to be closed.
    bool store(Session& s, const QByteArray& name, const FtpServerConfig& cfg);
    // False when the control connection is to be closed.
    bool retrieve(Session& s, const QByteArray& name, const FtpServerConfig& cfg);
    QByteArray romBytes(qint64 offset, qint64 length, const FtpServerConfig& cfg) const;
    static void closeStalledData(Session& s);

    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    FtpServerConfig config_;
    QByteArray transcript_;
    QList<QByteArray> commands_;
    QList<StoredFile> stored_;
    int connections_ = 0;
    int closed_ = 0;

    int listener_ = -1;
    quint16 port_ = 0;
    std::atomic<bool> stopping_{false};
    std::thread thread_;
    std::vector<std::thread> sessions_; // accepting thread only, then stop()
    std::atomic<int> activeSessions_{0};
};

} // namespace routersim
