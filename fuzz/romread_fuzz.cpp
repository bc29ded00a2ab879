// The ROM read's reply head over hostile router answers, and the file the read writes: the body
// starts inside the first chunk after its LF CR, only " 200 OK" answers are written, and the
// file holds exactly the bytes the router sent after the head, never more.

#include "FuzzSupport.h"
#include "net/SocketClient.h"

#include <array>
#include <cstring>

using namespace fw;
using fw::fuzz::require;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0)
        return 0; // a receive of nothing is the closed connection, not a head
    // The reply as it arrives: chunks of at most ChunkSize bytes, each zero-padded, as
    // ReceiveToFile reads them; the first one holds the head.
    std::array<char, SocketClient::ChunkSize + 1> chunk{};
    const qint64 n = std::min<qint64>(qint64(size), SocketClient::ChunkSize);
    std::memcpy(chunk.data(), data, size_t(n));
    const SocketClient::ReplyHead head = SocketClient::readReplyHead(chunk.data(), n);
    const QByteArrayView first(reinterpret_cast<const char*>(data), n);
    if (head.bodyStart < 0) {
        require(!head.error.isEmpty(), "a refused head says why");
        require(head.badRequest == (!first.contains(" 200 OK") && first.contains(" 400 ")),
                "the error 03 box only for a 400 answer");
        return 0;
    }
    require(first.contains(" 200 OK"), "only a 200 OK answer is written");
    require(head.bodyStart >= 3 && head.bodyStart < n, "the body starts inside the first chunk");
    require(first[head.bodyStart - 3] == '\n' && first[head.bodyStart - 2] == '\r',
            "the body follows the head's LF CR");
    require(first.first(head.bodyStart - 3).indexOf("\n\r") < 0, "at the first LF CR");

    // What the read writes: the first chunk after the head, then every further chunk whole.
    const qint64 written = (n - head.bodyStart) + (qint64(size) - n);
    require(written >= 1 && written <= qint64(size) - 3, "never more than the router sent");
    return 0;
}
