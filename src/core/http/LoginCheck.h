#pragma once
// The router login and password check over plain HTTP: the login CGI with its redirect and 404
// retry, the index page that tells new firmware (CAS code) from old, and Basic authentication.
// Runs on the GUI thread and blocks it for the length of each exchange.

#include "ui/Sinks.h"

#include <QByteArray>
#include <QString>
#include <QtGlobal>
#include <chrono>
#include <optional>

namespace fw {

// Result codes of CheckLogin and BasicAuthLogin (a positive value is the login port).
namespace LoginCode {
inline constexpr int WrongPassword = -10;
inline constexpr int BadReply = -11;
inline constexpr int SendFailed = -12;
inline constexpr int PortRedirectFailed = -20;
inline constexpr int BadRequest = -21;
inline constexpr int NoCgi = -22;
inline constexpr int BasicAuthWanted = -24;
} // namespace LoginCode

struct LoginContext {
    Sinks sinks; // System Log and the "File Error" boxes
    // The run's UpgradeMethod: old firmware sets Method::Ftp, or Method::Http after HttpAfterFtp.
    qint16* upgradeMethod = nullptr;
    quint16 webPort = 80; // the first login port and the Basic authentication port
    // Bound on each send and receive of an exchange (the router closes after its reply).
    std::chrono::milliseconds transferTimeout = std::chrono::seconds(60);
};

// Input the request buffers of the router tools hold; longer input is refused, not cut.
inline constexpr int MaxLoginPasswordLength = 1006;
inline constexpr int MaxUserIdLength = 19;
inline constexpr int MaxCredentialsLength = 44; // user name and password, without the colon
// A router that keeps answering 301 is given up after this many redirects.
inline constexpr int MaxLoginRedirects = 8;
// Capacity of the reply buffer of one login exchange.
inline constexpr int LoginReplyCapacity = 35160;

// The port text of a 301 reply: the characters after the first ':' that is followed by '1'..'8',
// up to the first CR or the end. std::nullopt when there is no such ':'.
std::optional<QByteArray> RedirectPortText(const QByteArray& reply);
// The decimal value (its low 16 bits) of a port text; std::nullopt unless all decimal digits.
std::optional<quint16> ParsePortText(const QByteArray& text);

// The requests as they go on the wire.
QByteArray LoginRequest(const QByteArray& password, const QByteArray& extraHeaderLine);
QByteArray IndexRequest();
QByteArray BasicAuthRequest(const QByteArray& base64Credentials, const QString& address);

int CheckLogin(LoginContext& ctx, const QString& password, const QString& address);

// `userId` is the user name (at most 19 characters). Always asks ctx.webPort and returns it
// (80 in the program) when the router accepts the credentials.
// Tells the person why CheckLogin refused (code < 0, not BasicAuthWanted): a box, with the
// status line for a wrong password, or a log line for the rest. An unreadable reply is told with
// `badReplyText`, which differs by caller ("Receive response error N").
void ReportLoginRefusal(const Sinks& sinks, int code, const QString& badReplyText);

int BasicAuthLogin(LoginContext& ctx, const QString& userId, const QString& password,
                   const QString& address);

QByteArray Base64Encode(const QByteArray& input);

} // namespace fw
