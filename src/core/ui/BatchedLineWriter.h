#pragma once
// Lines for a standard stream, written in batches: a line that comes after a quiet
// ShowInterval goes out at once; lines that follow it closer are kept and go out together
// ShowInterval later (through the event loop of the thread that made the writer), when they
// pass FlushBytes, at flush() and at destruction. A run that logs per datagram thus costs one
// write per batch, not one per line. Once the stream fails (a closed pipe), later lines are
// dropped. Any thread may write.

#include <QByteArray>
#include <QElapsedTimer>
#include <QMutex>
#include <QObject>
#include <QString>
#include <QTimer>

#include <chrono>
#include <cstdio>

namespace fw {

class BatchedLineWriter : public QObject {
    Q_OBJECT
public:
    static constexpr std::chrono::milliseconds ShowInterval{50};
    static constexpr qsizetype FlushBytes = 64 * 1024;

    explicit BatchedLineWriter(std::FILE* stream, QObject* parent = nullptr);
    ~BatchedLineWriter() override;
    BatchedLineWriter(const BatchedLineWriter&) = delete;
    BatchedLineWriter& operator=(const BatchedLineWriter&) = delete;

    // The line in the local encoding, then a newline.
    void writeLine(const QString& line);
    void flush();

private:
    void flushLocked();

    std::FILE* stream_;
    QMutex mutex_;
    QByteArray buffer_;
    QTimer timer_;
    QElapsedTimer sinceWrite_; // invalid until the first write
    bool failed_ = false;
};

} // namespace fw
