#pragma once
// The ROUTERS file of fwfleet: one router a line, "ADDRESS PASSWORD ROMID" separated by blanks,
// "null" for an empty field, '#' starting a comment. Any thread.

#include <QByteArray>
#include <QList>
#include <QString>
#include <optional>

namespace fleet {

struct RouterLine {
    int lineNumber = 0;
    QString address;
    QString password;
    QString romId;
};

class RouterList {
public:
    // The routers in file order, or nullopt with *error naming the first malformed line
    // ("line N: ...").
    static std::optional<QList<RouterLine>> parse(const QByteArray& text, QString* error);
    // The program's own spelling of an empty field on its command line.
    static QString commandLineField(const QString& field);
};

} // namespace fleet
