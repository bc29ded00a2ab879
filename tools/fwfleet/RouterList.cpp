#include "RouterList.h"

#include <QHash>
#include <QRegularExpression>

namespace fleet {

namespace {
const QString Null = QStringLiteral("null");

bool dottedQuad(const QString& text) {
    static const QRegularExpression quad(
        QStringLiteral("^(25[0-5]|2[0-4]\\d|1\\d\\d|[1-9]?\\d)(\\.(25[0-5]|2[0-4]\\d|1\\d\\d|[1-9]?\\d)){3}$"));
    return quad.match(text).hasMatch();
}
} // namespace

std::optional<QList<RouterLine>> RouterList::parse(const QByteArray& text, QString* error) {
    QList<RouterLine> routers;
    QHash<QString, int> seen; // address -> line
    const QList<QByteArray> lines = text.split('\n');
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const int number = int(i + 1);
        QByteArray raw = lines[i];
        if (const qsizetype hash = raw.indexOf('#'); hash >= 0)
            raw.truncate(hash);
        const QString line = QString::fromUtf8(raw);
        const QStringList fields = line.simplified().split(u' ', Qt::SkipEmptyParts);
        if (fields.isEmpty())
            continue;
        auto fail = [&](const QString& why) {
            *error = QStringLiteral("line %1: %2").arg(number).arg(why);
            return std::nullopt;
        };
        if (fields.size() != 3)
            return fail(QStringLiteral("expected ADDRESS PASSWORD ROMID, found %1 field%2")
                            .arg(fields.size())
                            .arg(fields.size() == 1 ? "" : "s"));
        if (!dottedQuad(fields[0]))
            return fail(QStringLiteral("the address is not an IPv4 address"));
        for (const QString& f : fields)
            for (const QChar c : f)
                if (c.unicode() < 0x20 || c.unicode() == 0x7F)
                    return fail(QStringLiteral("a field holds a control character"));
        if (const int first = seen.value(fields[0]); first > 0)
            return fail(QStringLiteral("%1 is already on line %2").arg(fields[0]).arg(first));
        seen.insert(fields[0], number);
        RouterLine r;
        r.lineNumber = number;
        r.address = fields[0];
        r.password = fields[1] == Null ? QString() : fields[1];
        r.romId = fields[2] == Null ? QString() : fields[2];
        routers.append(r);
    }
    return routers;
}

QString RouterList::commandLineField(const QString& field) {
    return field.isEmpty() ? Null : field;
}

} // namespace fleet
