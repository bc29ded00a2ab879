// The device search's reading of discovery replies over a hostile network: floods of replies of
// any kind from any sender never hold more than 64 records, a reply is recorded only when its
// probe's acceptance test passes, its texts are its own bytes up to the first zero, the types are
// the documented codes, and every router list line, as presented, is exactly one line.

#include "FuzzSupport.h"
#include "search/DeviceSearch.h"
#include "ui/VisibleText.h"

using namespace fw;
using fw::fuzz::require;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::ensureApp();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    DeviceSearch search;
    // No echo leaves the process: the input decides who answers.
    bool echoAnswer = size > 0 && (data[0] & 1);
    search.setEchoFunction([&echoAnswer](const QString&) { return echoAnswer; });

    const int kinds[] = {ProbeKind::Query, ProbeKind::Tftp, ProbeKind::DefaultAddress,
                         ProbeKind::BootPort};
    int accepted = 0;
    for (size_t i = 1; i + 2 <= size;) {
        const uint8_t op = data[i];
        const size_t len = std::min<size_t>(size_t(data[i + 1]) * 4, size - i - 2);
        i += 2;
        const int kind = kinds[op & 3];
        // The receive buffer of the probe cuts what arrives.
        const QByteArray datagram =
            fuzz::bytesOf(data + i, std::min<size_t>(len, size_t(DeviceSearch::receiveSize(kind))));
        i += len;
        const QString sender = QStringLiteral("192.168.%1.%2").arg((op >> 2) & 1).arg(op >> 3);
        echoAnswer = op & 0x80;
        const int before = search.devices().count();
        search.handleReply(kind, datagram, sender);
        const int after = search.devices().count();
        require(after <= DeviceList::Capacity, "at most 64 records");
        require(after == before || after == before + 1, "at most one record per reply");
        if (after == before + 1) {
            ++accepted;
            require(DeviceSearch::acceptsReply(kind, datagram), "only accepted replies recorded");
            const DeviceRecord& r = search.devices().at(before);
            require(r.address == sender, "the sender's address");
            require(r.type >= -6 && r.type <= 5, "a documented type code");
            if (kind == ProbeKind::Query || kind == ProbeKind::BootPort)
                require(r.romId.size() < datagram.size() && r.detail.size() < datagram.size(),
                        "texts come from the reply's bytes");
            require(!r.romId.contains(QChar(0)) && !r.detail.contains(QChar(0)),
                    "texts end at the first zero");
        }
    }
    require(accepted <= DeviceList::Capacity, "a full list takes no more records");
    for (const int mode : {DeviceSearch::ListPlain, DeviceSearch::ListDetailed}) {
        const QStringList lines = search.listLines(mode);
        require(lines.size() == search.devices().count(), "one list line per record");
        for (const QString& line : lines)
            require(fuzz::singleLine(visibleText(line)), "a presented list line is one line");
    }
    return 0;
}
