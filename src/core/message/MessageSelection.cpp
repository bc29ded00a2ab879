#include "message/MessageSelection.h"

#include "message/MessageRecord.h"

namespace fw {

// Stand-in until the message window lands: shows every parsable record.
void SelectAndShow(const QByteArray& fileBytes, quint16, MessageMode, const QString&,
                   const QString&, LogSink*, MessageWindowSink* window) {
    if (auto r = MessageRecord::parse(fileBytes); r && window)
        window->showMessageWindow(*r);
}

} // namespace fw
