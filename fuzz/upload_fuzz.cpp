// The upload's result check over hostile router answers: success only for CAS code 8000 or a
// plain " 200 OK" page without an alert; the alert text shown is at most 23 characters of the
// page; every answer gives exactly one log line and a result text.

#include "FuzzSupport.h"
#include "http/HttpEngine.h"

using namespace fw;
using fw::fuzz::require;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Capped like the upload's reply buffer.
    const QByteArray reply =
        fuzz::bytesOf(data, std::min<size_t>(size, HttpEngine::ReplyCapacity - 2));
    const HttpEngine::UploadVerdict v = HttpEngine::ClassifyUploadReply(reply);
    const qsizetype tag = reply.indexOf("--CAS");
    const bool success = tag >= 0 ? reply.mid(tag + 6, 4) == "8000"
                                  : reply.contains(" 200 OK") && !reply.contains("alert");
    require(v.result == (success ? 1 : -1), "success exactly for 8000 or a plain 200 OK");
    require(!v.logLine.isEmpty() && !v.resultText.isNull(), "one log line and a result text");
    require(!v.badRequestBox || (tag < 0 && !reply.contains(" 200 OK") && reply.contains(" 400 ")),
            "the error 00 box only for a 400 answer");
    if (tag < 0 && reply.contains(" 200 OK") && reply.contains("alert")) {
        require(v.resultText.size() <= HttpEngine::MaxAlertLength, "alert text capped");
        require(reply.contains(v.resultText.toLatin1()), "alert text taken from the page");
    } else {
        require(v.resultText.size() <= 40, "otherwise a fixed text or a four-character code");
    }
    return 0;
}
