// The settings record over hostile settings bytes: a short file overwrites only the bytes it
// holds, a long one no more than 224, and every text is read to its field's width at most and
// to its first zero, whatever the bytes.

#include "FuzzSupport.h"
#include "settings/SettingsRecord.h"

using namespace fw;
using fw::fuzz::require;

namespace {

using S = SettingsRecord;

void checkText(const QByteArray& raw, S::Field f, const QString& text) {
    const QByteArray field = raw.mid(f.offset, f.size);
    const qsizetype nul = field.indexOf('\0');
    const QByteArray expected = nul < 0 ? field : field.left(nul);
    require(text.size() <= f.size, "a text is at most its field's width");
    require(text == QString::fromLatin1(expected),
            "a text is its field's bytes up to the first zero");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray bytes = fuzz::bytesOf(data, size);
    S record;
    const QByteArray initial = record.bytes();
    record.overlay(bytes);
    const QByteArray raw = record.bytes();
    require(raw.size() == S::Size, "the record is 224 bytes");
    const qsizetype taken = std::min<qsizetype>(bytes.size(), S::Size);
    require(raw.left(taken) == bytes.left(taken), "the file's bytes are taken as they are");
    require(raw.mid(taken) == initial.mid(taken), "bytes beyond a short file are kept");

    for (const S::Field f : {S::DstIP, S::PassWd, S::FileName, S::ROMID, S::DefaultIP1,
                             S::DefaultIP2, S::DefaultIP3, S::DefaultIP4, S::WindowCaption})
        checkText(raw, f, record.text(f));
    const QByteArray fileName = raw.mid(S::FileName.offset, S::FileName.size);
    for (const S::Field part : {S::GetOutputName, S::GetOffset, S::GetLength})
        checkText(fileName, part, record.getText(part));
    for (int n = 1; n <= 4; ++n)
        require(record.defaultIP(n).size() <= S::DefaultIP1.size, "a default address fits");

    // A text written back is cut to its field and leaves every other byte alone.
    S copy = record;
    copy.setText(S::ROMID, bytes);
    const QByteArray after = copy.bytes();
    require(after.left(S::ROMID.offset) == raw.left(S::ROMID.offset) &&
                after.mid(S::ROMID.offset + S::ROMID.size) ==
                    raw.mid(S::ROMID.offset + S::ROMID.size),
            "setText writes inside its field only");
    return 0;
}
