#include "http/LoginCheck.h"

#include "net/SocketClient.h"
#include "transfer/Method.h"
#include "ui/SecretText.h"

#include <QCoreApplication>

namespace fw {

namespace {

constexpr char kRdBegin[] = "rd=begin";

// The fixed header lines the router's login CGI and index page are asked with.
constexpr char kCommonLines[] = "Accept-Language: zh-tw\r\n"
                                "Content-Type: application/x-www-form-urlencoded\r\n"
                                "Accept-Encoding: gzip, deflate\r\n"
                                "User-Agent: Mozilla/4.0 (Compatible; MSIE 5.0; Windows 98; "
                                "DigExt)\r\n"
                                "Connection: Keep-Alive\r\n"
                                "\r\n";

struct Exchange {
    enum Outcome { Received, SendFailed, ReceiveFailed } outcome = SendFailed;
    QByteArray reply;
    QString lastError;
};

// One request on a connection of its own; the connection is closed before the reply is looked
// at. `sentLine` is logged between the send and the receive.
Exchange exchange(const LoginContext& ctx, const QByteArray& request, const QString& address,
                  quint16 port, const QString& sentLine) {
    Exchange ex;
    SocketClient socket(ctx.sinks.box);
    socket.setTransferTimeout(ctx.transferTimeout);
    socket.setExchangeDeadline(ctx.exchangeDeadline, ctx.idle);
    if (socket.OpenSocket() < 0 || socket.ConnectTo(address, port) < 0 ||
        socket.SendData(request) < 0) {
        ex.lastError = socket.lastError;
        return ex;
    }
    ctx.sinks.logLine(sentLine);
    if (socket.ReceiveToBuffer(ex.reply, LoginReplyCapacity) < 0) {
        ex.outcome = Exchange::ReceiveFailed;
        ex.lastError = socket.lastError;
        return ex;
    }
    ex.outcome = Exchange::Received;
    return ex;
}

bool holdsLineBreakOrNul(const QByteArray& b) {
    return b.contains('\r') || b.contains('\n') || b.contains('\0');
}

} // namespace

void TurnEventsDuringExchange() {
    if (QCoreApplication::instance())
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

QByteArray LoginRequest(const QByteArray& password, const QByteArray& extraHeaderLine) {
    return "GET /cgi-bin/logi?rc=@&PSW=" + password + "&rd=menu HTTP/1.1\r\n" + extraHeaderLine +
           "\r\n" + kCommonLines;
}

QByteArray IndexRequest() {
    return QByteArray("GET / HTTP/1.1\r\n") + kCommonLines;
}

QByteArray BasicAuthRequest(const QByteArray& base64Credentials, const QString& address) {
    return "GET / HTTP/1.1\r\n"
           "Accept: image/gif, image/x-xbitmap, image/jpeg,image/pjpeg, */*\r\n"
           "Accept-Language: zh-tw\r\n"
           "Accept-Encoding: gzip, deflate\r\n"
           "User-Agent: Mozilla/4.0 (Compatible; MSIE 6.0; Windows NT; 5.1)\r\n"
           "Host: " +
           address.toLatin1() +
           "\r\n"
           "Connection: Keep-Alive\r\n"
           "Authorization: Basic " +
           base64Credentials + "\r\n\r\n";
}

LoginReply ClassifyLoginReply(const QByteArray& reply, bool index) {
    if (reply.contains(" 200 OK"))
        return LoginReply::Ok;
    if (reply.contains("301 "))
        return LoginReply::Redirect;
    if (reply.contains(" 400 "))
        return LoginReply::BadRequest;
    if (reply.contains(" 404 "))
        return LoginReply::NoCgi;
    if (reply.contains(" 503 "))
        return LoginReply::NotComplete;
    if (index && reply.contains(" 401 "))
        return LoginReply::AuthWanted;
    return LoginReply::Other;
}

std::optional<QString> CasCode(const QByteArray& reply) {
    const qsizetype tag = reply.indexOf("--CAS");
    if (tag < 0)
        return std::nullopt;
    return QString::fromLatin1(reply.mid(tag + 6, 4));
}

std::optional<QByteArray> RedirectPortText(const QByteArray& reply) {
    for (qsizetype i = 0; i + 1 < reply.size(); ++i) {
        if (reply[i] == ':' && reply[i + 1] >= '1' && reply[i + 1] <= '8') {
            const qsizetype cr = reply.indexOf('\r', i + 1);
            return reply.mid(i + 1, cr < 0 ? -1 : cr - i - 1);
        }
    }
    return std::nullopt;
}

std::optional<quint16> ParsePortText(const QByteArray& text) {
    if (text.isEmpty())
        return std::nullopt;
    quint16 value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return std::nullopt;
        value = quint16(value * 10 + (c - '0')); // the low 16 bits
    }
    return value;
}

QByteArray Base64Encode(const QByteArray& input) {
    // The encoder works on zero-terminated text.
    const qsizetype nul = input.indexOf('\0');
    return (nul < 0 ? input : input.left(nul)).toBase64();
}

int CheckLogin(LoginContext& ctx, const QString& password, const QString& address) {
    const Sinks& s = ctx.sinks;
    registerSecret(password); // a router may echo the query that carries it
    const QByteArray pw = password.toUtf8();
    if (holdsLineBreakOrNul(pw)) {
        s.logLine(QStringLiteral("Password holds a line break or NUL; nothing sent"));
        return LoginCode::SendFailed;
    }
    if (pw.size() > MaxLoginPasswordLength) {
        s.logLine(QStringLiteral("Password longer than %1 characters; nothing sent")
                      .arg(MaxLoginPasswordLength));
        return LoginCode::SendFailed;
    }

    quint16 port = ctx.webPort;
    QByteArray extraLine;
    bool alert = false;
    int redirects = 0;

    // The login request, repeated after a redirect or the one 404 retry.
    for (bool toIndex = false; !toIndex;) {
        const QByteArray request = LoginRequest(pw, extraLine);
        const Exchange ex =
            exchange(ctx, request, address, port, QStringLiteral("send login PKT success"));
        if (ex.outcome == Exchange::SendFailed) {
            s.logLine(QStringLiteral("send login PKT error"));
            s.logLine(ex.lastError);
            return LoginCode::SendFailed;
        }
        if (ex.outcome == Exchange::ReceiveFailed) {
            s.logLine(QStringLiteral("receive response error 0 in send login PKT"));
            s.logLine(ex.lastError);
            return LoginCode::BadReply;
        }
        const QByteArray& reply = ex.reply;
        switch (ClassifyLoginReply(reply, false)) {
        case LoginReply::Ok:
            alert = reply.contains("alert");
            toIndex = true;
            break;
        case LoginReply::Redirect: {
            const auto text = RedirectPortText(reply);
            if (!text) {
                toIndex = true;
                break;
            }
            const auto newPort = ParsePortText(*text);
            const QString portText = QString::fromLatin1(*text);
            if (!newPort) {
                s.logLine(QStringLiteral("Invalid login port number : ") + portText);
                return LoginCode::PortRedirectFailed;
            }
            if (++redirects > MaxLoginRedirects) {
                s.logLine(QStringLiteral("Login port redirected more than %1 times; given up")
                              .arg(MaxLoginRedirects));
                return LoginCode::PortRedirectFailed;
            }
            s.logLine(QStringLiteral("Resend login pkt in port : ") + portText);
            port = *newPort;
            break;
        }
        case LoginReply::BadRequest:
            s.showBox(QStringLiteral("error 01"), QStringLiteral("File Error"),
                      BoxButtons::OkCancel);
            s.logLine(QStringLiteral("Bad request in send login"));
            toIndex = true;
            break;
        case LoginReply::NoCgi:
            if (extraLine == kRdBegin) {
                s.logLine(QStringLiteral("NO CGI Found in send login"));
                return LoginCode::NoCgi;
            }
            s.logLine(QStringLiteral("NO CGI Found, and test again"));
            extraLine = kRdBegin;
            break;
        case LoginReply::NotComplete:
            s.logLine(QStringLiteral("Upgrade Not Complete at last time in send login"));
            toIndex = true;
            break;
        case LoginReply::AuthWanted:
        case LoginReply::Other:
            s.logLine(QStringLiteral("Receive login PKT error in send login"));
            return LoginCode::BadReply;
        }
    }

    const Exchange ex =
        exchange(ctx, IndexRequest(), address, port, QStringLiteral("send index PKT success"));
    if (ex.outcome == Exchange::SendFailed) {
        s.logLine(QStringLiteral("send index PKT error"));
        s.logLine(ex.lastError);
        return LoginCode::SendFailed;
    }
    if (ex.outcome == Exchange::ReceiveFailed) {
        s.logLine(QStringLiteral("receive response error 1 in send index"));
        s.logLine(ex.lastError);
        return LoginCode::BadReply;
    }
    const QByteArray& reply = ex.reply;
    switch (ClassifyLoginReply(reply, true)) {
    case LoginReply::Ok:
        break; // the version check below
    case LoginReply::Redirect:
        s.logLine(QStringLiteral("unexpect port number error in send get_index PKT"));
        return LoginCode::PortRedirectFailed;
    case LoginReply::BadRequest:
        s.showBox(QStringLiteral("error 02"), QStringLiteral("File Error"), BoxButtons::OkCancel);
        s.logLine(QStringLiteral("Bad request in send get index"));
        return LoginCode::BadRequest;
    case LoginReply::NoCgi:
        s.logLine(QStringLiteral("NO CGI Found in send get index"));
        return LoginCode::NoCgi;
    case LoginReply::NotComplete:
        s.logLine(QStringLiteral("Upgrade Not Complete at last time in send get index"));
        break;
    case LoginReply::AuthWanted:
        s.logLine(QStringLiteral("Peer ask for win-authentication"));
        return LoginCode::BasicAuthWanted;
    case LoginReply::Other:
        s.logLine(QStringLiteral("Receive login PKT error in send get index"));
        return LoginCode::BadReply;
    }

    if (const auto code = CasCode(reply)) {
        if (*code == QLatin1String("0003")) {
            s.logLine(QStringLiteral("Login password error in New version"));
            return LoginCode::WrongPassword;
        }
        if (*code == QLatin1String("8003")) {
            s.logLine(QStringLiteral("Login password correct in New version"));
            return port;
        }
        s.logLine(QStringLiteral("unknow error code : ") + *code);
        return LoginCode::BadReply;
    }

    // Old firmware: upgraded by FTP, unless FTP failed last time.
    if (ctx.upgradeMethod) {
        if (*ctx.upgradeMethod == Method::HttpAfterFtp) {
            *ctx.upgradeMethod = Method::Http;
            s.logLine(QStringLiteral("FTP Mode upgrade fail last time..."));
            s.logLine(QStringLiteral("Try to use HTTP Mode to upgrade "));
        } else {
            *ctx.upgradeMethod = Method::Ftp;
        }
    }
    s.logLine(QStringLiteral("Old version detect"));
    if (alert) {
        s.logLine(QStringLiteral("Login password error in Old version"));
        return LoginCode::WrongPassword;
    }
    s.logLine(QStringLiteral("Login password correct in Old version"));
    return port;
}

int BasicAuthLogin(LoginContext& ctx, const QString& userId, const QString& password,
                   const QString& address) {
    const Sinks& s = ctx.sinks;
    const QByteArray user = userId.toUtf8();
    const QByteArray pw = password.toUtf8();
    if (holdsLineBreakOrNul(user) || holdsLineBreakOrNul(pw)) {
        s.logLine(QStringLiteral("User name or password holds a line break or NUL; nothing sent"));
        return LoginCode::SendFailed;
    }
    if (user.size() > MaxUserIdLength) {
        s.logLine(QStringLiteral("User name longer than %1 characters; nothing sent")
                      .arg(MaxUserIdLength));
        return LoginCode::SendFailed;
    }
    if (user.size() + pw.size() > MaxCredentialsLength) {
        s.logLine(QStringLiteral("User name and password longer than %1 characters; nothing sent")
                      .arg(MaxCredentialsLength));
        return LoginCode::SendFailed;
    }

    const QByteArray credentials = Base64Encode(user + ':' + pw);
    registerSecret(password);
    if (!pw.isEmpty())
        registerBasicCredentials(credentials);
    const QByteArray request = BasicAuthRequest(credentials, address);
    const Exchange ex = exchange(ctx, request, address, ctx.webPort,
                                 QStringLiteral("send win_auth login PKT success"));
    if (ex.outcome == Exchange::SendFailed) {
        s.logLine(QStringLiteral("send win_auth login PKT error"));
        s.logLine(ex.lastError);
        return LoginCode::SendFailed;
    }
    if (ex.outcome == Exchange::ReceiveFailed) {
        s.logLine(QStringLiteral("receive response error 2 in send win_auth login PKT"));
        s.logLine(ex.lastError);
        return LoginCode::BadReply;
    }
    if (ex.reply.contains(" 200 OK"))
        return ctx.webPort;
    if (ex.reply.contains("401 ")) {
        s.logLine(QStringLiteral("Username or Password error in win-auth login"));
        return LoginCode::WrongPassword;
    }
    s.logLine(QStringLiteral("Receive win-auth login PKT error"));
    return LoginCode::BadReply;
}

void ReportLoginRefusal(const Sinks& sinks, int code, const QString& badReplyText) {
    const auto box = [&](const QString& text) { sinks.showBox(text, QString(), BoxButtons::Ok); };
    switch (code) {
    case LoginCode::NoCgi:
        box(QStringLiteral("No CGI found"));
        break;
    case LoginCode::BadRequest:
        box(QStringLiteral("Bad request"));
        break;
    case LoginCode::PortRedirectFailed:
        box(QStringLiteral("Port command error"));
        break;
    case LoginCode::SendFailed:
        box(QStringLiteral("Send request error"));
        break;
    case LoginCode::BadReply:
        box(badReplyText);
        break;
    case LoginCode::WrongPassword:
        sinks.showBox(QStringLiteral("Incorrect password. Please check and input again!"),
                      QStringLiteral("Authentication Failed"), BoxButtons::Ok);
        sinks.setStatus(QStringLiteral("Your input password is incorrect, please check again."));
        break;
    default:
        sinks.logLine(QStringLiteral("Unknow Error while check password"));
        break;
    }
}

} // namespace fw
