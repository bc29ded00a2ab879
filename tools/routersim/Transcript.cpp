#include "Transcript.h"

#include <QMutexLocker>

#include <cctype>

namespace routersim {

bool Transcript::open(const QString& path, QString* error) {
    QMutexLocker lock(&mutex_);
    file_.setFileName(path);
    if (!file_.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered)) {
        *error = QStringLiteral("cannot write transcript %1: %2").arg(path, file_.errorString());
        return false;
    }
    return true;
}

void Transcript::record(const QString& protocol, const QString& from, const QString& to,
                        const QByteArray& bytes) {
    Entry e{protocol, from, to, bytes};
    QMutexLocker lock(&mutex_);
    if (file_.isOpen()) {
        file_.write(formatLine(e).toLatin1() + '\n');
        file_.flush();
    }
    if (entries_.size() < MaxKept)
        entries_ << std::move(e);
}

QList<Transcript::Entry> Transcript::entries() const {
    QMutexLocker lock(&mutex_);
    return entries_;
}

QString Transcript::formatLine(const Entry& e) {
    const QByteArray hex = e.bytes.isEmpty() ? QByteArray("-") : e.bytes.toHex();
    return e.protocol + u' ' + e.from + u' ' + e.to + u' ' + QString::fromLatin1(hex);
}

std::optional<Transcript::Entry> Transcript::parseLine(const QString& line) {
    const QStringList f = line.trimmed().split(u' ');
    if (f.size() != 4)
        return std::nullopt;
    Entry e{f[0], f[1], f[2], {}};
    if (f[3] != u"-") {
        const QByteArray hex = f[3].toLatin1();
        if (hex.size() % 2)
            return std::nullopt;
        for (char c : hex) {
            if (!std::isxdigit(static_cast<unsigned char>(c)))
                return std::nullopt;
        }
        e.bytes = QByteArray::fromHex(hex);
    }
    return e;
}

QList<Transcript::Entry> Transcript::readFile(const QString& path) {
    QFile f(path);
    QList<Entry> out;
    if (!f.open(QIODevice::ReadOnly))
        return out;
    while (!f.atEnd()) {
        if (auto e = parseLine(QString::fromLatin1(f.readLine())))
            out << *e;
    }
    return out;
}

} // namespace routersim
