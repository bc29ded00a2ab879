#include "LogLineStore.h"

#include <algorithm>

namespace fw {

void LogLineStore::append(const QString& line) {
    bytes_.append(line.toUtf8());
    ends_.push_back(bytes_.size());
}

QString LogLineStore::line(int i) const {
    if (i < 0 || i >= count())
        return {};
    const qsizetype begin = i == 0 ? 0 : ends_[size_t(i) - 1];
    return QString::fromUtf8(bytes_.constData() + begin, ends_[size_t(i)] - begin);
}

QString LogLineStore::text(int first, int last) const {
    first = std::max(first, 0);
    last = std::min(last, count());
    QString out;
    for (int i = first; i < last; ++i) {
        if (i > first)
            out += u'\n';
        out += line(i);
    }
    return out;
}

} // namespace fw
