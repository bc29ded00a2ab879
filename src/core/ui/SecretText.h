#pragma once
// Router passwords are never presented: every text the program shows or writes (System Log,
// status line, boxes, router list, headless lines, JSON Lines) passes maskSecrets(), which
// replaces each registered secret by MaskedSecret. Bytes sent to a router are never masked.
// A password is registered where it enters the program and where it goes to a router, together
// with the forms that give it away (the Basic credentials). Any thread.

#include <QByteArray>
#include <QJsonValue>
#include <QString>

namespace fw {

// Eight stars whatever the secret's length.
inline constexpr char MaskedSecret[] = "********";

// Shorter secrets are masked only where a text is built with maskedSecret(): masking every
// "pw" or "1" in every text would mangle the log and still give the secret away by its gaps.
inline constexpr qsizetype MinMaskedLength = 4;
// The registry keeps the most recent secrets (a person may retype a password often).
inline constexpr int MaxSecrets = 64;

// Registers `secret` (and its Latin-1 reading of the UTF-8 bytes, as a router's echo decodes).
// Empty or short secrets are ignored.
void registerSecret(const QString& secret);
// The HTTP Basic credentials "user:password" as Base64, as the request carries them.
void registerBasicCredentials(const QByteArray& base64Credentials);

// `text` with every registered secret replaced by MaskedSecret.
QString maskSecrets(const QString& text);

// Every text in `value` (strings of arrays and objects, keys aside) masked the same way.
QJsonValue maskSecrets(const QJsonValue& value);

// What a text presenter shows: secrets masked, then control characters made visible
// (ui/VisibleText.h).
QString shownText(const QString& text);

// The shown form of a password in a text built for it: MaskedSecret, or the empty text for an
// empty password.
QString maskedSecret(const QString& secret);

// Forgets every secret (tests).
void forgetSecrets();

} // namespace fw
