#pragma once
// The log texts of a ROM read that did not deliver exactly the stretch asked for, shared by the
// FTP and HTTP reads. Any thread.

#include <QString>
#include <QtGlobal>

namespace fw {

class RomStretch {
public:
    // "ROM data cut short: N of L bytes"
    static QString cutShortText(qint64 received, qint64 length);
    // The bytes past the length were read only to be counted; none was written.
    static QString offeredMoreText(qint64 extra, qint64 length);
};

} // namespace fw
