#include "transfer/FileAttributes.h"

namespace fw {

void AddSectionLetter(QString& letters, quint16 attribute) {
    const char letter = sectionLetter(SectionOf(attribute));
    if (letter != '\0' && !letters.contains(QLatin1Char(letter)))
        letters.append(QLatin1Char(letter));
}

QString cutPath(const QString& path) {
    const qsizetype cut =
        std::max(path.lastIndexOf(QLatin1Char('/')), path.lastIndexOf(QLatin1Char('\\')));
    return cut < 0 ? path : path.mid(cut + 1);
}

bool romIdMatches(const QString& romId, const QString& path) {
    return cutPath(path).toUpper().startsWith(romId.toUpper());
}

} // namespace fw
