// The RTF reader over hostile notes: it never reads past the bytes, never nests without bound,
// keeps every format value inside its documented range, and gives no more text than the bytes
// could encode (every character of output costs at least one byte of input, but a \uN with its
// fallback may give a surrogate pair).

#include "FuzzSupport.h"
#include "message/RtfReader.h"

using namespace fw;
using fw::fuzz::require;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArrayView bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    require(RtfReader::isRtf(bytes) == bytes.startsWith("{\\rtf"), "isRtf is the prefix test");
    const RtfDocument doc = RtfReader::read(bytes);
    qsizetype chars = 0;
    for (const RtfParagraph& p : doc.paragraphs) {
        for (const RtfRun& r : p.runs) {
            chars += r.text.size();
            require(r.halfPoints >= 0 && r.halfPoints <= RtfReader::MaxHalfPoints,
                    "font size in range");
            require(r.foreground <= 0xFFFFFF && r.background <= 0xFFFFFF, "colours are RGB");
        }
    }
    require(chars <= 2 * qsizetype(size), "output bounded by the input");
    require(doc.paragraphs.size() <= qsizetype(size) + 1, "paragraphs bounded by the input");
    const QString plain = doc.plainText();
    require(plain.size() <= chars + doc.paragraphs.size(), "plain text is the runs and breaks");

    const QString decoded = RtfReader::decodeCp1252(bytes);
    require(decoded.size() == qsizetype(size), "one character per code-page byte");
    return 0;
}
