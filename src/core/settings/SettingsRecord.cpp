#include "settings/SettingsRecord.h"

#include <algorithm>
#include <cstring>

namespace fw {

namespace {
QString textAt(const quint8* p, int size) {
    const auto* end = std::find(p, p + size, quint8(0));
    return QString::fromLatin1(reinterpret_cast<const char*>(p), end - p);
}
void writeText(quint8* p, int size, const QByteArray& v) {
    std::memset(p, 0, size_t(size));
    std::memcpy(p, v.constData(), size_t(std::min<qsizetype>(v.size(), size)));
}
} // namespace

SettingsRecord::SettingsRecord() {
    raw_[SettingFlags.offset] = InitialFlags;
}

void SettingsRecord::overlay(const QByteArray& bytes) {
    std::memcpy(raw_.data(), bytes.constData(), size_t(std::min<qsizetype>(bytes.size(), Size)));
}

QByteArray SettingsRecord::bytes() const {
    return QByteArray(reinterpret_cast<const char*>(raw_.data()), Size);
}

QString SettingsRecord::text(Field f) const {
    return textAt(raw_.data() + f.offset, f.size);
}

void SettingsRecord::setText(Field f, const QByteArray& v) {
    writeText(raw_.data() + f.offset, f.size, v);
}

QString SettingsRecord::defaultIP(int n) const {
    static constexpr Field fields[] = {DefaultIP1, DefaultIP2, DefaultIP3, DefaultIP4};
    return text(fields[std::clamp(n, 1, 4) - 1]);
}

QString SettingsRecord::getText(Field part) const {
    return textAt(raw_.data() + FileName.offset + part.offset, part.size);
}

void SettingsRecord::setGetText(Field part, const QByteArray& v) {
    writeText(raw_.data() + FileName.offset + part.offset, part.size, v);
}

} // namespace fw
