#pragma once
// A headless run's reports as JSON Lines: one compact object per report, with "t" (seconds since
// the writer was made, 3 decimals) and "kind"; the "exit" object is the last one written. Any
// thread: each object goes out whole, one at a time.

#include <QByteArray>
#include <QElapsedTimer>
#include <QJsonObject>
#include <QString>

#include <functional>
#include <mutex>

namespace fw {

class JsonLines {
public:
    using Sink = std::function<void(const QByteArray& line)>;

    // `sink` receives each line with its '\n'.
    explicit JsonLines(Sink sink);

    // The process's writer on standard output, made (and its clock started) on the first call.
    static JsonLines& standardOutput();

    // One object: `fields` (every text with the secrets masked) plus "t" and "kind". Dropped
    // once the exit object is out.
    void write(const QString& kind, QJsonObject fields = {});
    // The "exit" object with the run's exit status; only the first call writes.
    void writeExit(int status);
    bool ended() const;

    // The line for an object, without its '\n' (also the parser's counterpart in tests).
    QByteArray line(const QString& kind, QJsonObject fields) const;

private:
    Sink sink_;
    QElapsedTimer clock_;
    mutable std::mutex mutex_;
    bool ended_ = false;
};

} // namespace fw
