#pragma once
// Reads the rich text of message notes into a small neutral model (paragraphs of formatted runs)
// that the message window turns into its own document. Pure functions; any thread.

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>
#include <QtGlobal>

namespace fw {

enum class RtfAlignment { Left, Center, Right, Justify };

// A stretch of text with one character format. Colours are 0xRRGGBB.
struct RtfRun {
    QString text;
    bool bold = false;
    bool italic = false;
    bool underline = false;
    bool strike = false;
    int halfPoints = 0; // font size in half points; 0 = the view's default
    bool hasForeground = false;
    quint32 foreground = 0;
    bool hasBackground = false;
    quint32 background = 0;

    bool sameFormat(const RtfRun& o) const {
        return bold == o.bold && italic == o.italic && underline == o.underline &&
               strike == o.strike && halfPoints == o.halfPoints &&
               hasForeground == o.hasForeground && foreground == o.foreground &&
               hasBackground == o.hasBackground && background == o.background;
    }
};

struct RtfParagraph {
    RtfAlignment alignment = RtfAlignment::Left;
    QList<RtfRun> runs;
};

struct RtfDocument {
    QList<RtfParagraph> paragraphs;

    // The text without formatting, paragraphs separated by '\n' (line breaks stay U+2028).
    QString plainText() const;
};

// Reader for the subset of RTF that notes use: groups, paragraphs, line breaks, tabs, bold,
// italic, underline, strike-through, font size, colours from the colour table, alignment,
// code-page and Unicode escapes. Destinations it does not show are skipped. Hostile input is
// bounded: nesting depth, numeric parameters and output size are all capped.
class RtfReader {
public:
    static constexpr int MaxDepth = 256;
    static constexpr int MaxHalfPoints = 288;  // 144 pt
    static constexpr int MaxFallbackChars = 8; // \ucN
    static constexpr int MaxColours = 256;

    // True when `text` starts with "{\rtf".
    static bool isRtf(QByteArrayView text);

    // Parses `text` as RTF. Never reads past its bytes; what cannot be understood is dropped.
    static RtfDocument read(QByteArrayView text);

    // Windows-1252 bytes to text (undefined positions map to U+FFFD).
    static QString decodeCp1252(QByteArrayView bytes);
};

} // namespace fw
