#include "ui/BatchedLineWriter.h"

#include <QMetaObject>
#include <QThread>

namespace fw {

BatchedLineWriter::BatchedLineWriter(std::FILE* stream, QObject* parent)
    : QObject(parent), stream_(stream) {
    timer_.setSingleShot(true);
    timer_.setInterval(ShowInterval);
    connect(&timer_, &QTimer::timeout, this, &BatchedLineWriter::flush);
}

BatchedLineWriter::~BatchedLineWriter() {
    flush();
}

void BatchedLineWriter::writeLine(const QString& line) {
    QMutexLocker lock(&mutex_);
    if (failed_)
        return;
    const bool wasEmpty = buffer_.isEmpty();
    buffer_ += line.toLocal8Bit();
    buffer_ += '\n';
    const bool quiet = !sinceWrite_.isValid() || sinceWrite_.elapsed() >= ShowInterval.count();
    if ((wasEmpty && quiet) || buffer_.size() >= FlushBytes) {
        flushLocked();
        return;
    }
    if (wasEmpty) {
        // The timer belongs to this object's thread.
        QMetaObject::invokeMethod(
            &timer_, [this] { timer_.start(); },
            thread() == QThread::currentThread() ? Qt::DirectConnection : Qt::QueuedConnection);
    }
}

void BatchedLineWriter::flush() {
    QMutexLocker lock(&mutex_);
    flushLocked();
}

void BatchedLineWriter::flushLocked() {
    if (failed_)
        return;
    if (!buffer_.isEmpty()) {
        std::fwrite(buffer_.constData(), 1, size_t(buffer_.size()), stream_);
        buffer_.clear();
    }
    // Nobody reads any more: the run goes on without these lines.
    if (std::fflush(stream_) != 0 || std::ferror(stream_))
        failed_ = true;
    sinceWrite_.start();
}

} // namespace fw
