#include "ui/VisibleText.h"

namespace fw {

namespace {

bool isControl(char16_t c) {
    return c < 0x20 || (c >= 0x7F && c <= 0x9F);
}

bool isSeparator(char16_t c) {
    return c == 0x2028 || c == 0x2029;
}

constexpr char kHex[] = "0123456789abcdef";

} // namespace

bool isVisibleText(const QString& text) {
    for (const QChar qc : text) {
        if (isControl(qc.unicode()) || isSeparator(qc.unicode()))
            return false;
    }
    return true;
}

QString visibleText(const QString& text) {
    if (isVisibleText(text))
        return text;
    QString out;
    out.reserve(text.size() + 16);
    for (const QChar qc : text) {
        const char16_t c = qc.unicode();
        if (isControl(c)) {
            out += QLatin1String("\\x");
            out += QLatin1Char(kHex[c >> 4]);
            out += QLatin1Char(kHex[c & 0xF]);
        } else if (isSeparator(c)) {
            out += QLatin1String(c == 0x2028 ? "\\u2028" : "\\u2029");
        } else {
            out += qc;
        }
    }
    return out;
}

} // namespace fw
