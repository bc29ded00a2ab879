#include "message/RtfReader.h"

#include <QStringView>
#include <algorithm>
#include <array>
#include <optional>
#include <vector>

namespace fw {

namespace {

// 0x80..0x9F of Windows-1252; the rest of the upper half equals Latin-1.
constexpr std::array<char16_t, 32> Cp1252High = {
    0x20AC, 0xFFFD, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0xFFFD, 0x017D, 0xFFFD, 0xFFFD, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0xFFFD, 0x017E, 0x0178};

char16_t cp1252(uchar b) {
    return (b >= 0x80 && b <= 0x9F) ? Cp1252High[b - 0x80] : char16_t(b);
}

// Large enough for every parameter RTF defines; keeps arithmetic on hostile numbers in range.
constexpr qint64 MaxParameter = 1'000'000'000;
constexpr int MaxWordLength = 32;
constexpr int DefaultFallbackChars = 1;

enum class Destination { Text, Skip, ColourTable };

struct GroupState {
    bool bold = false;
    bool italic = false;
    bool underline = false;
    bool strike = false;
    int halfPoints = 0;
    int foreground = -1; // colour table index
    int background = -1;
    RtfAlignment alignment = RtfAlignment::Left;
    int fallbackChars = DefaultFallbackChars;
    Destination destination = Destination::Text;

    void plain() {
        bold = italic = underline = strike = false;
        halfPoints = 0;
        foreground = background = -1;
    }
};

// Destinations whose content is never shown in a note.
bool skippedDestination(QByteArrayView w) {
    static constexpr const char* names[] = {"fonttbl",
                                            "stylesheet",
                                            "info",
                                            "pict",
                                            "header",
                                            "headerl",
                                            "headerr",
                                            "headerf",
                                            "footer",
                                            "footerl",
                                            "footerr",
                                            "footerf",
                                            "listtable",
                                            "listoverridetable",
                                            "revtbl",
                                            "rsidtbl",
                                            "filetbl",
                                            "generator",
                                            "xmlnsdecl",
                                            "themedata",
                                            "colorschememapping",
                                            "latentstyles",
                                            "datastore",
                                            "object",
                                            "objdata",
                                            "nonshppict",
                                            "footnote",
                                            "annotation",
                                            "atnid",
                                            "atnauthor",
                                            "fldinst",
                                            "pn",
                                            "bkmkstart",
                                            "bkmkend",
                                            "template",
                                            "userprops",
                                            "docvar",
                                            "shpinst",
                                            "tc",
                                            "xe"};
    return std::any_of(std::begin(names), std::end(names),
                       [&](const char* n) { return w == QByteArrayView(n); });
}

bool isHex(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}
int hexValue(char c) {
    if (c <= '9')
        return c - '0';
    return (c | 0x20) - 'a' + 10;
}
bool isLetter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

class Parser {
public:
    explicit Parser(QByteArrayView in) : in_(in), budget_(in.size()) {}

    RtfDocument run() {
        while (pos_ < in_.size() && !done_) {
            const char c = in_[pos_++];
            switch (c) {
            case '{':
                openGroup();
                break;
            case '}':
                closeGroup();
                break;
            case '\\':
                control();
                break;
            case '\r':
            case '\n':
                break;
            default:
                textByte(uchar(c));
            }
        }
        if (!current_.runs.isEmpty())
            doc_.paragraphs.append(current_);
        return std::move(doc_);
    }

private:
    bool ignoring() const { return overflow_ > 0 || state_.destination == Destination::Skip; }

    void openGroup() {
        skipCount_ = 0;
        if (overflow_ > 0 || int(stack_.size()) >= RtfReader::MaxDepth) {
            ++overflow_; // too deep: dropped with everything inside
            return;
        }
        stack_.push_back(state_);
    }

    void closeGroup() {
        skipCount_ = 0;
        if (overflow_ > 0) {
            --overflow_;
        } else if (stack_.empty()) {
            done_ = true; // a stray closing brace before any group: nothing more to read
        } else {
            state_ = stack_.back();
            stack_.pop_back();
            done_ = stack_.empty(); // the document's own group has closed
        }
    }

    // Reads an optional signed decimal parameter, saturating; consumes every digit.
    std::optional<qint64> parameter() {
        bool negative = false;
        if (pos_ < in_.size() && in_[pos_] == '-' && pos_ + 1 < in_.size() &&
            isDigit(in_[pos_ + 1])) {
            negative = true;
            ++pos_;
        }
        if (pos_ >= in_.size() || !isDigit(in_[pos_]))
            return std::nullopt;
        qint64 v = 0;
        while (pos_ < in_.size() && isDigit(in_[pos_])) {
            v = std::min(MaxParameter, v * 10 + (in_[pos_] - '0'));
            ++pos_;
        }
        return negative ? -v : v;
    }

    void control() {
        if (pos_ >= in_.size()) {
            done_ = true; // a lone backslash at the end
            return;
        }
        const char c = in_[pos_];
        if (isLetter(c)) {
            const qsizetype start = pos_;
            while (pos_ < in_.size() && isLetter(in_[pos_]))
                ++pos_;
            const QByteArrayView word = in_.sliced(start, pos_ - start);
            const std::optional<qint64> param = parameter();
            if (pos_ < in_.size() && in_[pos_] == ' ')
                ++pos_;
            if (word.size() <= MaxWordLength)
                controlWord(word, param);
            return;
        }
        ++pos_;
        switch (c) {
        case '\'':
            hexEscape();
            break;
        case '\\':
        case '{':
        case '}':
            textByte(uchar(c));
            break;
        case '*':
            if (overflow_ == 0)
                state_.destination = Destination::Skip;
            break;
        case '~':
            symbol(u'\u00A0');
            break;
        case '_':
            symbol(u'\u2011');
            break;
        case '\r':
        case '\n':
            if (!consumeFallback() && !ignoring())
                paragraph();
            break;
        default: // \- (optional hyphen), \: and unknown symbols show nothing
            consumeFallback();
            break;
        }
    }

    void hexEscape() {
        if (pos_ + 1 >= in_.size() || !isHex(in_[pos_]) || !isHex(in_[pos_ + 1])) {
            if (pos_ < in_.size() && isHex(in_[pos_]))
                ++pos_; // truncated or malformed escape: dropped
            return;
        }
        const uchar b = uchar(hexValue(in_[pos_]) * 16 + hexValue(in_[pos_ + 1]));
        pos_ += 2;
        textByte(b, true);
    }

    // True when the character was a fallback for the preceding \u and is dropped.
    bool consumeFallback() {
        if (skipCount_ > 0) {
            --skipCount_;
            return true;
        }
        return false;
    }

    void controlWord(QByteArrayView w, std::optional<qint64> param) {
        if (overflow_ > 0)
            return;
        if (w == "bin") {
            // Binary data: skipped unread, whatever the destination.
            const qint64 n = std::clamp<qint64>(param.value_or(0), 0, in_.size() - pos_);
            pos_ += n;
            return;
        }
        if (state_.destination == Destination::Skip)
            return;
        if (w == "colortbl") {
            state_.destination = Destination::ColourTable;
            colours_.clear();
            resetComponents();
            return;
        }
        if (skippedDestination(w)) {
            state_.destination = Destination::Skip;
            return;
        }
        if (state_.destination == Destination::ColourTable) {
            const int v = int(std::clamp<qint64>(param.value_or(0), 0, 255));
            if (w == "red")
                red_ = v;
            else if (w == "green")
                green_ = v;
            else if (w == "blue")
                blue_ = v;
            else
                return;
            componentSet_ = true;
            return;
        }
        if (consumeFallback())
            return;

        const bool on = param.value_or(1) != 0;
        const int value = int(std::clamp<qint64>(param.value_or(0), -MaxParameter, MaxParameter));
        if (w == "par" || w == "row") {
            paragraph();
        } else if (w == "line") {
            symbol(u'\u2028');
        } else if (w == "tab" || w == "cell") {
            symbol(u'\t');
        } else if (w == "b") {
            state_.bold = on;
        } else if (w == "i") {
            state_.italic = on;
        } else if (w == "ul" || w == "uld" || w == "uldb" || w == "uldash" || w == "ulth" ||
                   w == "ulw" || w == "ulwave") {
            state_.underline = on;
        } else if (w == "ulnone") {
            state_.underline = false;
        } else if (w == "strike" || w == "striked") {
            state_.strike = on;
        } else if (w == "fs") {
            if (param && value > 0)
                state_.halfPoints = std::min(value, RtfReader::MaxHalfPoints);
        } else if (w == "cf") {
            state_.foreground = value;
        } else if (w == "cb" || w == "highlight" || w == "chcbpat") {
            state_.background = value;
        } else if (w == "ql") {
            state_.alignment = RtfAlignment::Left;
        } else if (w == "qc") {
            state_.alignment = RtfAlignment::Center;
        } else if (w == "qr") {
            state_.alignment = RtfAlignment::Right;
        } else if (w == "qj") {
            state_.alignment = RtfAlignment::Justify;
        } else if (w == "pard") {
            state_.alignment = RtfAlignment::Left;
        } else if (w == "plain") {
            state_.plain();
        } else if (w == "ansi") {
            cp1252_ = true;
        } else if (w == "mac" || w == "pc" || w == "pca") {
            cp1252_ = false;
        } else if (w == "ansicpg") {
            cp1252_ = value == 1252;
        } else if (w == "uc") {
            state_.fallbackChars = std::clamp(value, 0, RtfReader::MaxFallbackChars);
        } else if (w == "u") {
            if (param)
                unicode(value);
        } else if (w == "emdash") {
            symbol(u'\u2014');
        } else if (w == "endash") {
            symbol(u'\u2013');
        } else if (w == "bullet") {
            symbol(u'\u2022');
        } else if (w == "lquote") {
            symbol(u'\u2018');
        } else if (w == "rquote") {
            symbol(u'\u2019');
        } else if (w == "ldblquote") {
            symbol(u'\u201C');
        } else if (w == "rdblquote") {
            symbol(u'\u201D');
        } else if (w == "emspace" || w == "enspace") {
            symbol(u' ');
        }
        // Anything else (fonts, margins, document properties) has no effect on a note.
    }

    void unicode(int value) {
        if (value < 0)
            value += 0x10000; // written as a signed 16-bit number
        if (value >= 0 && value <= 0xFFFF) {
            const char16_t u = char16_t(value);
            if (QChar::isHighSurrogate(u)) {
                highSurrogate_ = u;
            } else if (QChar::isLowSurrogate(u)) {
                if (highSurrogate_ != 0 && budget_ >= 2) {
                    appendUnit(highSurrogate_);
                    appendUnit(u);
                }
                highSurrogate_ = 0;
            } else {
                put(u);
            }
        }
        skipCount_ = state_.fallbackChars;
    }

    void textByte(uchar b, bool escaped = false) {
        if (ignoring())
            return;
        if (state_.destination == Destination::ColourTable) {
            if (b == ';' && !escaped)
                pushColour();
            return;
        }
        if (consumeFallback())
            return;
        if (b == '\t')
            put(u'\t');
        else if (b >= 0x20) // other control bytes show nothing
            put(cp1252_ ? cp1252(b) : char16_t(b));
    }

    void symbol(char16_t u) {
        if (ignoring() || state_.destination == Destination::ColourTable)
            return;
        if (consumeFallback())
            return;
        put(u);
    }

    void put(char16_t u) {
        highSurrogate_ = 0;
        appendUnit(u);
    }

    void appendUnit(char16_t u) {
        if (budget_ <= 0)
            return; // output never outgrows the input
        --budget_;
        RtfRun format;
        format.bold = state_.bold;
        format.italic = state_.italic;
        format.underline = state_.underline;
        format.strike = state_.strike;
        format.halfPoints = state_.halfPoints;
        if (const auto c = colour(state_.foreground)) {
            format.hasForeground = true;
            format.foreground = *c;
        }
        if (const auto c = colour(state_.background)) {
            format.hasBackground = true;
            format.background = *c;
        }
        current_.alignment = state_.alignment;
        if (current_.runs.isEmpty() || !current_.runs.last().sameFormat(format))
            current_.runs.append(format);
        current_.runs.last().text.append(QChar(u));
    }

    void paragraph() {
        if (budget_ <= 0)
            return;
        --budget_;
        highSurrogate_ = 0;
        current_.alignment = state_.alignment;
        doc_.paragraphs.append(current_);
        current_ = RtfParagraph();
    }

    std::optional<quint32> colour(int index) const {
        if (index < 0 || index >= colours_.size())
            return std::nullopt;
        return colours_[index];
    }

    void resetComponents() {
        red_ = green_ = blue_ = 0;
        componentSet_ = false;
    }

    void pushColour() {
        if (colours_.size() < RtfReader::MaxColours) {
            // An entry without components is "automatic": the view's own colour.
            colours_.append(componentSet_
                                ? std::optional<quint32>(quint32(red_ << 16) |
                                                         quint32(green_ << 8) | quint32(blue_))
                                : std::nullopt);
        }
        resetComponents();
    }

    QByteArrayView in_;
    qsizetype pos_ = 0;
    qsizetype budget_;
    bool done_ = false;
    int overflow_ = 0;
    std::vector<GroupState> stack_;
    GroupState state_;
    bool cp1252_ = true;
    int skipCount_ = 0;
    char16_t highSurrogate_ = 0;
    QList<std::optional<quint32>> colours_;
    int red_ = 0;
    int green_ = 0;
    int blue_ = 0;
    bool componentSet_ = false;
    RtfParagraph current_;
    RtfDocument doc_;
};

} // namespace

QString RtfDocument::plainText() const {
    QString out;
    for (qsizetype i = 0; i < paragraphs.size(); ++i) {
        if (i > 0)
            out.append(QLatin1Char('\n'));
        for (const RtfRun& r : paragraphs[i].runs)
            out.append(r.text);
    }
    return out;
}

bool RtfReader::isRtf(QByteArrayView text) {
    return text.startsWith(QByteArrayView("{\\rtf"));
}

RtfDocument RtfReader::read(QByteArrayView text) {
    return Parser(text).run();
}

QString RtfReader::decodeCp1252(QByteArrayView bytes) {
    QString out;
    out.reserve(bytes.size());
    for (char c : bytes)
        out.append(QChar(cp1252(uchar(c))));
    return out;
}

} // namespace fw
