#pragma once
// A headless run's reports as JSON Lines: one compact object per report, with "t" (seconds since
// the writer was made, 3 decimals) and "kind"; the "exit" object is the last one written. Any
// thread: each object goes out whole, one at a time.

#include <QByteArray>
#include <QElapsedTimer>
#include <QJsonObject>
#include <QString>

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>

namespace fw {

class JsonLines {
public:
    using Sink = std::function<void(const QByteArray& line)>;
    // Writes the line only if the stream takes it whole at once; true when it did.
    using TrySink = std::function<bool(const QByteArray& line)>;

    // `sink` receives each line with its '\n'; `trySink` serves writeExitNow() (without one,
    // `sink` does).
    explicit JsonLines(Sink sink, TrySink trySink = {});

    // The process's writer on standard output, made (and its clock started) on the first call.
    // Once standard output fails (a closed pipe), nothing more is written to it.
    static JsonLines& standardOutput();

    // One object: `fields` (every text with the secrets masked) plus "t" and "kind". Dropped
    // once the exit object is out.
    void write(const QString& kind, QJsonObject fields = {});
    // The "exit" object with the run's exit status; only the first call writes.
    void writeExit(int status);
    // The same from a thread that must not wait on a blocked stream (a stop signal): the
    // object goes out when the writer is free within `writerWait` and the stream takes it at
    // once, else it is dropped. Either way nothing is written afterwards. True when written.
    bool writeExitNow(int status, std::chrono::milliseconds writerWait);
    bool ended() const { return ended_; }

    // The line for an object, without its '\n' (also the parser's counterpart in tests).
    QByteArray line(const QString& kind, QJsonObject fields) const;

private:
    Sink sink_;
    TrySink trySink_;
    QElapsedTimer clock_;
    std::timed_mutex mutex_;
    std::atomic<bool> ended_{false};
};

} // namespace fw
