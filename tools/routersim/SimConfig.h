#pragma once
// The simulator's configuration: the routers it plays (address, state, ROM identifier, detail
// text and the knobs every server reads), the ports and the transcript file. Parsed once from
// the command line; read-only afterwards, so any thread may read it.

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>
#include <memory>
#include <optional>

namespace routersim {

class RouterRestart;

enum class RouterState { Normal, Default, Crashed };

// The discovery probes a router answers (bits).
namespace Answer {
inline constexpr unsigned Query = 0x1;   // "QD" on the query port
inline constexpr unsigned Boot = 0x2;    // boot request on the boot-server port
inline constexpr unsigned Tftp = 0x4;    // TFTP read request "VN"
inline constexpr unsigned Default = 0x8; // "QQ" on the query port
} // namespace Answer

struct RouterConfig {
    QHostAddress address;
    RouterState state = RouterState::Normal;
    QByteArray romId = "ABC123";
    QByteArray detail = "Router";
    bool echo = true;          // answers ICMP echo
    unsigned answers = 0;      // Answer bits; from the state unless given
    int junk = 0;              // datagrams failing the program's acceptance test before each answer
    int extra = 0;             // further copies of each answer
    int oversize = 0;          // datagrams larger than any probe's receive size before each answer
    bool shortReplies = false; // answers end right after their last text, without its zero
    int cut = -1;              // every answer cut to this many bytes (-1: not cut)
    int delayMs = 0;           // answers leave this long after the request
    // restart=SECONDS|never, newdetail=TEXT: restarts after an accepted upgrade (null: never).
    std::shared_ptr<RouterRestart> restart;
    // Every key=value as given, for servers that read knobs of their own.
    QMap<QString, QString> options;

    QString addressText() const { return address.toString(); }
};

struct SimPorts {
    quint16 query = 9;
    quint16 boot = 67;
    quint16 tftp = 69;
};

struct SimConfig {
    QList<RouterConfig> routers;
    QString transcriptPath; // empty: no transcript file
    SimPorts ports;
    // A socket on 0.0.0.0 per port receives broadcasts; off for unicast-only runs on the host.
    bool listenBroadcast = true;
    // Routers with echo=yes are answered by the simulator's own ICMP responder (the namespace's
    // kernel echo is switched off); off for runs that must not open raw sockets.
    bool answerEcho = true;
    // Start a web server per router.
    bool web = false;
    // Start an FTP server per router.
    bool ftp = false;

    // The command line after the program name. nullopt with *error set on a mistake.
    static std::optional<SimConfig> parse(const QStringList& args, QString* error);
    // One --router value: ADDR[,key=value]... (values may be double-quoted).
    static std::optional<RouterConfig> parseRouter(const QString& spec, QString* error);
    static QString usage();
};

// The probes a router in this state answers when the configuration does not say.
unsigned defaultAnswers(RouterState state);

} // namespace routersim
