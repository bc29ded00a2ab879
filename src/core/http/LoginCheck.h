#pragma once
// The router login and password check over plain HTTP: the login CGI with its redirect and 404
// retry, the index page that tells new firmware (CAS code) from old, and Basic authentication.
// Runs on the GUI thread and blocks it for the length of each exchange.

#include "search/DeviceList.h"
#include "ui/Sinks.h"

#include <QByteArray>
#include <QString>
#include <QtGlobal>

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
    Sinks sinks;                  // System Log and the "File Error" boxes
    qint16* upgradeMethod = nullptr; // the main window's UpgradeMethod (old firmware: 3, or 2 after 133)
    quint16 webPort = 80;         // the first login port and the Basic authentication port
};

// 1 and the record's ROM identifier and type, or -1 (out-values untouched).
int FindRouterRecord(const DeviceList& devices, const QString& address, QString* romId,
                     qint32* type);

int CheckLogin(LoginContext& ctx, const QString& password, const QString& address);

// `userId` is the user name (at most 19 characters).
int BasicAuthLogin(LoginContext& ctx, const QString& userId, const QString& password,
                   const QString& address);

QByteArray Base64Encode(const QByteArray& input);

} // namespace fw
