#include "search/DeviceList.h"

namespace fw {

void DeviceList::clear() {
    for (int i = 0; i < count_; ++i)
        records_[size_t(i)] = DeviceRecord{};
    count_ = 0;
}

bool DeviceList::append(const DeviceRecord& r) {
    if (count_ >= Capacity)
        return false;
    records_[size_t(count_++)] = r;
    return true;
}

bool DeviceList::isListed(const QString& address) const {
    return find(address) >= 0;
}

int DeviceList::find(const QString& address) const {
    for (int i = 0; i < count_; ++i)
        if (records_[size_t(i)].address == address)
            return i;
    return -1;
}

int FindRouterRecord(const DeviceList& devices, const QString& address, QString* romId,
                     qint32* type) {
    const int i = devices.find(address);
    if (i < 0)
        return -1;
    if (romId)
        *romId = devices.at(i).romId;
    if (type)
        *type = devices.at(i).type;
    return 1;
}

} // namespace fw
