#pragma once
// Every line of the System Log, kept compactly: UTF-8 back to back and one end offset per line,
// so a log of a hundred thousand lines takes a few megabytes. GUI thread.

#include <QByteArray>
#include <QString>

#include <vector>

namespace fw {

class LogLineStore {
public:
    void append(const QString& line);
    int count() const { return int(ends_.size()); }
    QString line(int i) const;
    // Lines first … last - 1, each ended by a newline except the last.
    QString text(int first, int last) const;

private:
    QByteArray bytes_;
    std::vector<qsizetype> ends_;
};

} // namespace fw
