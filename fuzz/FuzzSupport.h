#pragma once
// What the fuzz targets share: the rule check that aborts, a Qt application object, and sinks
// that record every report. Fuzzing thread only.

#include "ui/Sinks.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <cstddef>
#include <cstdint>

namespace fw::fuzz {

// A reader broke a rule it promises: report it and abort, so libFuzzer keeps the input.
void require(bool holds, const char* rule);

// The process's QCoreApplication (created on first use).
void ensureApp();

// True when no character of `text` could end or rewrite a line: no C0 or C1 control, no DEL,
// no Unicode line or paragraph separator. Written apart from the presenter's own test.
inline bool singleLine(const QString& text) {
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if (u < 0x20 || (u >= 0x7F && u <= 0x9F) || u == 0x2028 || u == 0x2029)
            return false;
    }
    return true;
}

inline QByteArray bytesOf(const uint8_t* data, size_t size) {
    return QByteArray(reinterpret_cast<const char*>(data), qsizetype(size));
}

// Records every report; boxes are answered with their first button.
class RecordingSinks final : public LogSink,
                             public StatusSink,
                             public ProgressSink,
                             public BoxSink,
                             public MessageWindowSink {
public:
    void appendLog(const QString& line) override { log << line; }
    void setStatusText(const QString& text) override { status << text; }
    void setProgressMaximum(qint64 m) override { maximum = m; }
    void setProgressPosition(qint64 p) override { position = p; }
    void advanceProgress(qint64 d) override { position += d; }
    BoxAnswer showBox(const QString& text, const QString& caption, BoxButtons buttons,
                      BoxIcon) override;
    void showMessageWindow(const MessageRecord& record) override;

    Sinks sinks() { return Sinks{this, this, this, this, this}; }

    QStringList log;
    QStringList status;
    QStringList boxes;
    int messageWindows = 0;
    qint64 maximum = 0;
    qint64 position = 0;
};

} // namespace fw::fuzz
