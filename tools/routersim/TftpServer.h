#pragma once
// The crashed routers' recovery loader as a TFTP server: it takes write requests on the TFTP
// port (next to the loader's "VN" answer, which Discovery keeps giving), acknowledges each data
// block, keeps every received file byte-exact (in memory, and in a directory when asked), and
// takes the read request "R!" as the order to reboot. Knobs make it refuse, stall or answer with
// a wrong block number. Received datagrams go to the transcript (Discovery records those on the
// TFTP port; this server records those on its own ports). Lives on Discovery's thread.
//
// Options (TftpServerConfig::parse, "key=value,key=value"; values cannot hold commas):
//   dir=PATH        also write each completed file to PATH/<its name> (the name's last path
//                   part; names that are empty, "." or ".." are kept in memory only)
//   errorwrq=N      the N-th write request (1-based) is answered with an error packet
//   errorblock=B    the first data block numbered B is answered with an error packet
//   errorcode=N     the error packet's code (default 0); errortext=TEXT its message
//   stall=B         from the first data block numbered B on nothing is answered (0: from the
//                   first write request on)
//   wrongblock=B    the first data block numbered B is acknowledged with block number B + 1
//   dupack=B        every data block numbered B is acknowledged twice
//   tid=own|same    answer each write request from a port of its own (default same: port 69)
//   reboot=silent|error  answer to "R!": none (default), or an error packet
//   maxfile=N       refuse files larger than N bytes with error 3 (default 64 MiB)
//   dropwrq=N       the N-th write request is lost on the way in (as if never sent)
//   dropblock=B     every file's data block B is lost on the way in
//   droplast=yes    every file's last data block is lost on the way in
//   dropcopies=N|all  how many copies of each of those are lost (default 1)

#include "SimConfig.h"

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QMap>
#include <QObject>
#include <QString>
#include <memory>
#include <optional>
#include <vector>

class QUdpSocket;

namespace routersim {

class Discovery;
class Transcript;

struct TftpServerConfig {
    QString dir;
    int errorWrq = 0;
    int errorBlock = 0;
    quint16 errorCode = 0;
    QByteArray errorText = "Recovery refused";
    int stall = -1;
    int wrongBlock = 0;
    int dupAck = 0;
    bool ownPort = false;
    bool rebootError = false;
    qint64 maxFile = qint64(64) << 20;
    int dropWrq = 0;
    int dropBlock = 0;
    bool dropLast = false;
    int dropCopies = 1;

    // std::nullopt and `error` set on an unknown key or a bad value.
    static std::optional<TftpServerConfig> parse(const QString& options, QString* error = nullptr);
};

class TftpServer : public QObject {
    Q_OBJECT
public:
    // One file as it came in.
    struct File {
        int router = -1;
        QByteArray name;
        QByteArray mode;
        QByteArray bytes;
        bool complete = false; // its last (short) block arrived
    };

    static constexpr int BlockSize = 512;
    // Transfers kept at once; the oldest is dropped beyond this.
    static constexpr int MaxTransfers = 16;
    // Files kept in memory; the oldest is dropped beyond this.
    static constexpr int MaxFilesKept = 256;

    // Serves every router of `discovery` that answers the TFTP probe. Both must outlive it.
    TftpServer(Discovery& discovery, const SimConfig& config, Transcript* transcript,
               QObject* parent = nullptr);
    ~TftpServer() override;

    // Knobs of one router (by its index in the configuration); the default has none.
    void setOptions(int router, const TftpServerConfig& options);

    QList<File> files() const;
    // Completed files of one router, by name (the last one of a name wins).
    QMap<QByteArray, QByteArray> completedFiles(int router = 0) const;
    int writeRequests() const { return writeRequests_; }
    int rebootRequests() const { return rebootRequests_; }
    // Datagrams the drop knobs swallowed.
    int dropped() const { return dropped_; }
    int datagramsSent() const { return datagramsSent_; }

    // Every datagram the server sent, in order (for tests).
    struct Reply {
        QByteArray bytes;
        quint16 fromPort = 0;
    };
    QList<Reply> replies() const { return replies_; }

signals:
    // A router got "R!".
    void rebootRequested(int router);
    // A write request was taken (its acknowledgement is on the way).
    void fileStarted(int router, const QByteArray& name);
    // A file's last block arrived.
    void fileCompleted(int router, const QByteArray& name);

private:
    struct Transfer;
    struct RouterState;

    void onDatagram(int router, const QByteArray& datagram, const QHostAddress& from,
                    quint16 fromPort);
    void onWriteRequest(int router, const QByteArray& d, const QHostAddress& from, quint16 port);
    void onData(int router, Transfer& t, const QByteArray& d);
    void onReadRequest(int router, const QByteArray& d, const QHostAddress& from, quint16 port);
    void send(int router, Transfer* t, const QByteArray& d, const QHostAddress& to, quint16 port);
    void sendError(int router, Transfer* t, quint16 code, const QByteArray& text,
                   const QHostAddress& to, quint16 port);
    void complete(int router, Transfer& t);
    Transfer* findTransfer(int router, const QHostAddress& from, quint16 port);
    void dropTransfer(Transfer* t);

    Discovery& discovery_;
    const SimConfig& config_;
    Transcript* transcript_;
    std::vector<RouterState> routers_;
    std::vector<std::unique_ptr<Transfer>> transfers_;
    QList<std::shared_ptr<File>> files_;
    int writeRequests_ = 0;
    int rebootRequests_ = 0;
    int datagramsSent_ = 0;
    int dropped_ = 0;
    QList<Reply> replies_;
};

} // namespace routersim
