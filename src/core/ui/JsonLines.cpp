#include "ui/JsonLines.h"

#include "ui/SecretText.h"

#include <QJsonDocument>

#include <cerrno>
#include <cmath>
#include <unistd.h>

namespace fw {

namespace {
// Standard output unbuffered: a line is out before the process can be ended by a signal.
void writeStandardOutput(const QByteArray& line) {
    qsizetype done = 0;
    while (done < line.size()) {
        const ssize_t n = ::write(STDOUT_FILENO, line.constData() + done, size_t(line.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return; // a closed pipe: nobody reads the report any more
        done += n;
    }
}
} // namespace

JsonLines::JsonLines(Sink sink) : sink_(std::move(sink)) {
    clock_.start();
}

JsonLines& JsonLines::standardOutput() {
    static JsonLines writer(writeStandardOutput);
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
    if (ended_)
        return;
    ended_ = true;
    sink_(line(QStringLiteral("exit"), {{QStringLiteral("status"), status}}) + '\n');
}

bool JsonLines::ended() const {
    std::lock_guard lock(mutex_);
    return ended_;
}

} // namespace fw
