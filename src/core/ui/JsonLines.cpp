#include "ui/JsonLines.h"

#include "ui/SecretText.h"

#include <QJsonDocument>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cmath>
#include <poll.h>
#include <unistd.h>

namespace fw {

namespace {
// Set once a write to standard output fails: nobody reads the report any more.
std::atomic<bool> g_stdoutFailed{false};

// Standard output unbuffered: a line is out before the process can be ended by a signal.
void writeStandardOutput(const QByteArray& line) {
    qsizetype done = 0;
    while (done < line.size() && !g_stdoutFailed) {
        const ssize_t n =
            ::write(STDOUT_FILENO, line.constData() + done, size_t(line.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            g_stdoutFailed = true; // a closed pipe: the run goes on without its report
            return;
        }
        done += n;
    }
}

// Only what a pipe takes whole without waiting: it has room (poll) and the line is no longer
// than the size a pipe writes in one piece.
bool tryWriteStandardOutput(const QByteArray& line) {
    if (g_stdoutFailed || line.size() > PIPE_BUF)
        return false;
    pollfd p{STDOUT_FILENO, POLLOUT, 0};
    if (::poll(&p, 1, 0) != 1 || (p.revents & POLLOUT) == 0 || (p.revents & POLLERR) != 0)
        return false;
    return ::write(STDOUT_FILENO, line.constData(), size_t(line.size())) == line.size();
}
} // namespace

JsonLines::JsonLines(Sink sink, TrySink trySink)
    : sink_(std::move(sink)), trySink_(std::move(trySink)) {
    clock_.start();
}

JsonLines& JsonLines::standardOutput() {
    static JsonLines writer(writeStandardOutput, tryWriteStandardOutput);
    return writer;
}

QByteArray JsonLines::line(const QString& kind, QJsonObject fields) const {
    fields.insert(QStringLiteral("t"), std::round(double(clock_.elapsed())) / 1000.0);
    fields.insert(QStringLiteral("kind"), kind);
    return QJsonDocument(fields).toJson(QJsonDocument::Compact);
}

void JsonLines::write(const QString& kind, QJsonObject fields) {
    std::lock_guard lock(mutex_);
    if (ended_)
        return;
    sink_(line(kind, maskSecrets(QJsonValue(fields)).toObject()) + '\n');
}

void JsonLines::writeExit(int status) {
    std::lock_guard lock(mutex_);
    if (ended_.exchange(true))
        return;
    sink_(line(QStringLiteral("exit"), {{QStringLiteral("status"), status}}) + '\n');
}

bool JsonLines::writeExitNow(int status, std::chrono::milliseconds writerWait) {
    // A writer blocked on the stream holds the lock: then the stream takes nothing anyway.
    std::unique_lock lock(mutex_, std::defer_lock);
    const bool free = lock.try_lock_for(writerWait);
    if (ended_.exchange(true) || !free)
        return false;
    const QByteArray exit =
        line(QStringLiteral("exit"), {{QStringLiteral("status"), status}}) + '\n';
    if (trySink_)
        return trySink_(exit);
    sink_(exit);
    return true;
}

} // namespace fw
