#pragma once
// The device search's results: up to 64 records of device type, address, ROM identifier and
// detail text, and the lookup of one address. Owned by the device search; read by the main window
// and the upgrade controller.

#include <QString>
#include <QtGlobal>
#include <array>

namespace fw {

// Device type codes: base 1 normal, 2 default, 0 crash; +3 without an echo answer; 6 an address
// that answers only the echo; c becomes -(c + 1) when the address already had a record.
namespace DeviceType {
inline constexpr qint32 Crash = 0;
inline constexpr qint32 Normal = 1;
inline constexpr qint32 Default = 2;
inline constexpr qint32 Unreachable = 3; // added to the base code
inline constexpr qint32 EchoOnly = 6;
constexpr qint32 duplicateOf(qint32 c) {
    return -(c + 1);
}
} // namespace DeviceType

struct DeviceRecord {
    qint32 type = 0;
    QString address;
    QString romId;
    QString detail;
};

class DeviceList {
public:
    static constexpr int Capacity = 64;

    int count() const { return count_; }
    const DeviceRecord& at(int i) const { return records_[size_t(i)]; }

    // Empties every record below the count, then sets the count to 0.
    void clear();
    // Appends unless the list is full; false (and nothing written) when it is.
    bool append(const DeviceRecord& r);
    // A record below the count has exactly this address text.
    bool isListed(const QString& address) const;
    // The first record whose address equals `address` exactly (case-sensitive); -1 when none.
    int find(const QString& address) const;

private:
    std::array<DeviceRecord, Capacity> records_{};
    int count_ = 0;
};

// 1 and the record's ROM identifier and type, or -1 (out-values untouched).
int FindRouterRecord(const DeviceList& devices, const QString& address, QString* romId,
                     qint32* type);

} // namespace fw
