#pragma once
// File attribute bits of embedded files, section letters, and the ROM-identifier match: the one
// place these rules live. Every engine and the package reader use them.

#include <QString>
#include <QtGlobal>

namespace fw {

inline constexpr quint16 AttrDefault = 0x0001;
inline constexpr quint16 AttrRomIdCheck = 0x0002;
inline constexpr quint16 AttrNormalCheck = 0x0004;
inline constexpr quint16 AttrTftpCheck = 0x0008;
inline constexpr quint16 AttrSectionMask = 0x00F0;
inline constexpr quint16 AttrKeepName = 0x0100;
inline constexpr quint16 AttrMessageFile = 0x0400;
inline constexpr quint16 AttrUpgradeFile = 0x0800;
inline constexpr quint16 AttrSettingsFile = 0x1000;
// An unused bit, set only on the package's digest record: no engine, and no reader that knows
// nothing of digests, sends, shows or reads a record that carries it alone.
inline constexpr quint16 AttrDigest = 0x2000;

// The attribute a hand-picked or command-line file gets: upgrade, TFTP, normal, default.
inline constexpr quint16 AttrHandPicked = 0x080D;

// Section number 0..15 of an attribute (bits 4 to 7).
constexpr int SectionOf(quint16 attribute) {
    return (attribute >> 4) & 0x0F;
}

// 1..13 -> 'A'..'M', 14 -> 'T', 15 -> 'X', 0 -> none ('\0').
constexpr char sectionLetter(int section) {
    if (section >= 1 && section <= 13)
        return char(0x40 + section);
    if (section == 14)
        return 'T';
    if (section == 15)
        return 'X';
    return '\0';
}

// Appends the attribute's section letter to `letters` unless it is 0 or already there.
void AddSectionLetter(QString& letters, quint16 attribute);

// The part of a path after its last separator ('/' or '\'); the whole path when it has none.
QString cutPath(const QString& path);

// True when the upper-cased file name of `path` begins with the upper-cased ROM identifier;
// an empty identifier matches every file.
bool romIdMatches(const QString& romId, const QString& path);

} // namespace fw
