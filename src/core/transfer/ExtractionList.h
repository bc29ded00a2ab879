#pragma once
// The list of extracted files (entry 0 is the body copy) and the main window's copy of it, from
// which every transfer engine chooses its files.

#include <QString>
#include <QtGlobal>
#include <array>

namespace fw {

struct ExtractionEntry {
    QString path;
    quint16 attribute = 0;
    qint32 kind = 0; // 0 body copy, 1 extracted or hand-picked file
};

struct ExtractionList {
    static constexpr int Capacity = 65;
    std::array<ExtractionEntry, Capacity> entries{};
    int count = 0;

    void clear() {
        entries.fill(ExtractionEntry{});
        count = 0;
    }
    // Appends unless full; false when the list already holds Capacity entries.
    bool append(const QString& path, quint16 attribute, qint32 kind) {
        if (count >= Capacity)
            return false;
        entries[count++] = ExtractionEntry{path, attribute, kind};
        return true;
    }
    const ExtractionEntry& operator[](int i) const { return entries[i]; }
};

} // namespace fw
