#pragma once
// The simulator's record of every datagram (and, for stream servers, every chunk) it received,
// byte-exact: one line per item, "<protocol> <from> <to> <hex bytes>", flushed as written. Also
// kept in memory for in-process users. Thread-safe.

#include <QByteArray>
#include <QFile>
#include <QList>
#include <QMutex>
#include <QString>
#include <optional>

namespace routersim {

class Transcript {
public:
    struct Entry {
        QString protocol; // "udp", "icmp", "tcp"
        QString from;     // "addr:port" ("addr" for icmp)
        QString to;
        QByteArray bytes;
        bool operator==(const Entry&) const = default;
    };

    // In-memory entries kept at most (a flood must not exhaust memory); the file keeps all.
    static constexpr int MaxKept = 100000;

    Transcript() = default;
    Transcript(const Transcript&) = delete;
    Transcript& operator=(const Transcript&) = delete;

    // Truncates and opens the file; false with *error set when it cannot be written.
    bool open(const QString& path, QString* error);
    void record(const QString& protocol, const QString& from, const QString& to,
                const QByteArray& bytes);
    QList<Entry> entries() const;

    static QString formatLine(const Entry& e);
    static std::optional<Entry> parseLine(const QString& line);
    // Every well-formed line of a transcript file (none when it cannot be read).
    static QList<Entry> readFile(const QString& path);

private:
    mutable QMutex mutex_;
    QFile file_;
    QList<Entry> entries_;
};

} // namespace routersim
