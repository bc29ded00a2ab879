#pragma once
// The simulated router's web server: login CGI, index page (new firmware with its CAS code, old
// firmware without), port redirect, 404/400/503 answers, Basic authentication, the /upg upload
// and the /config.bin ROM read, each with knobs for the failures a real router shows. Serves on
// a thread of its own (poll loop over non-blocking sockets); start() and the accessors may be
// called from any thread. Every request is kept as a byte transcript.
//
// Options (WebServerConfig::parse, "key=value,key=value"; values cannot hold commas):
//   password=TEXT     the right login password (default "admin")
//   firmware=new|old  new: index page carries "--CAS:8003" after a right login password and
//                     "--CAS:0003" after a wrong one; old: no CAS tag, a wrong password gets
//                     alert("...") in the login reply (default new)
//   cas=CODE          index page CAS code instead of 8003/0003
//   redirect=auto|self|TEXT  login requests on the main port get a 301 whose Location ends
//                     "http://ADDRESS:" + TEXT; auto: TEXT is the port of a second listener
//                     opened for it; self: TEXT is the main port (the router redirects forever)
//   listenredirect=0|1  also listen on TEXT when it is a port number (default 0)
//   login404=N, login400=N, login503=N  the first N login requests get that status
//   index=CODE        status of the index page (default 200; 503 still carries the CAS tag)
//   basicuser=TEXT, basicpass=TEXT  index page wants Basic authentication with these
//   upg=cas:CODE|alert:TEXT|ok|status:CODE|silent  the answer to /upg (default cas:8000);
//                     silent keeps the connection open without answering
//   upgsize=N         pad the /upg answer to N bytes
//   transcript=PATH   append every request's raw bytes to PATH
//   body=PATH         save each /upg body to PATH (replaced per upload)
//   keepbody=N        keep up to N bytes of each request body in memory (default 64 MiB)
//   maxbody=N         refuse a Content-Length above N with 400 (default 1 GiB)
//   rom=PATH          /config.bin?O=HEX&L=HEX serves PATH's bytes; without it a byte pattern
//                     (byte i of the ROM is i mod 256)
//   romstatus=CODE    status of /config.bin (default 200)
//   idle=MS           close a connection idle this long (default 30000; silent ones are kept)
// A router that restarts (WebServerConfig::restart) begins it once an upload got the answer
// cas:8000 or ok, and closes every new connection at once while it is silent.

#include <QByteArray>
#include <QList>
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

struct WebServerConfig {
    enum class UploadAnswer { Cas, Alert, Ok, Status, Silent };

    QByteArray password = "admin";
    bool oldFirmware = false;
    QByteArray casOverride;
    QByteArray redirect; // "", "auto", "self" or the text after the colon
    bool listenRedirect = false;
    int login404 = 0;
    int login400 = 0;
    int login503 = 0;
    int indexStatus = 200;
    QByteArray basicUser;
    QByteArray basicPassword;
    UploadAnswer upload = UploadAnswer::Cas;
    QByteArray uploadCas = "8000";
    QByteArray uploadAlert;
    int uploadStatus = 200;
    int uploadReplySize = 0;
    QString transcriptPath;
    QString bodyPath;
    qint64 keepBody = qint64(64) << 20;
    qint64 maxBody = qint64(1) << 30;
    QString romPath;
    int romStatus = 200;
    std::chrono::milliseconds idle{30000};
    std::shared_ptr<RouterRestart> restart; // not an option: from the router's restart knob

    // std::nullopt and `error` set on an unknown key or a bad value.
    static std::optional<WebServerConfig> parse(const QString& options, QString* error = nullptr);
};

class WebServer {
public:
    struct Request {
        quint16 localPort = 0; // the listener it came in on
        QByteArray bytes;      // header and body (the body up to keepBody bytes)
        qint64 bodySize = 0;   // body bytes received
    };

    explicit WebServer(WebServerConfig config = {});
    ~WebServer();
    WebServer(const WebServer&) = delete;
    WebServer& operator=(const WebServer&) = delete;

    // Listens on `address` (IPv4 dotted text) and `port` (0: an ephemeral port), plus the
    // redirect listener when configured, and starts serving. False and `error` on failure.
    bool start(const QString& address = QStringLiteral("127.0.0.1"), quint16 port = 0,
               QString* error = nullptr);
    // Closes every connection and listener; waits for the serving thread.
    void stop();

    quint16 port() const { return port_; }
    // The second listener of redirect=auto (or listenredirect), 0 when there is none.
    quint16 redirectPort() const { return redirectPort_; }

    void setConfig(const WebServerConfig& config);
    WebServerConfig config() const;

    // Completed requests in arrival order.
    QList<Request> requests() const;
    int requestCount() const;
    // True once at least `count` requests have completed; false after `timeout`.
    bool waitForRequests(int count, std::chrono::milliseconds timeout) const;
    void clearRequests();
    // The last /upg body (up to keepBody bytes) and its full size.
    QByteArray lastUploadBody() const;
    qint64 lastUploadBodySize() const;
    // From the first byte of the last /upg request to the last byte of its body.
    std::chrono::nanoseconds lastUploadDuration() const;
    // Whether the last login request carried the right password.
    bool lastLoginAccepted() const;

private:
    struct Connection;
    void run();
    void acceptFrom(int listener, quint16 localPort, bool redirectListener);
    // Handles readable bytes; false when the connection is to be closed now.
    bool onReadable(Connection& c);
    bool onWritable(Connection& c);
    void requestComplete(Connection& c);
    QByteArray answer(Connection& c, const WebServerConfig& cfg);
    void closeConnection(Connection& c);

    mutable std::mutex mutex_;
    mutable std::condition_variable completed_;
    WebServerConfig config_;
    QList<Request> requests_;
    QByteArray lastBody_;
    qint64 lastBodySize_ = 0;
    std::chrono::nanoseconds lastUploadDuration_{0};
    bool lastLoginOk_ = false;
    int loginsSeen_ = 0; // login requests on the main port since the last setConfig

    int listener_ = -1;
    int redirectListener_ = -1;
    int wakeRead_ = -1;
    int wakeWrite_ = -1;
    quint16 port_ = 0;
    quint16 redirectPort_ = 0;
    QByteArray address_;
    std::atomic<bool> stopping_{false};
    std::thread thread_;
    // Serving thread only.
    std::vector<std::unique_ptr<Connection>> connections_;
    QByteArray readBuffer_;
};

} // namespace routersim
