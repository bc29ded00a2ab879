#pragma once
// The 224-byte settings record carried in the package. Kept as raw bytes so that a short
// settings file overwrites only the bytes it holds; texts are read to the field width at most.

#include <QByteArray>
#include <QString>
#include <QtGlobal>
#include <array>

namespace fw {

class SettingsRecord {
public:
    static constexpr int Size = 224;

    struct Field {
        int offset;
        int size;
    };
    static constexpr Field DstIP{0, 18};
    static constexpr Field PassWd{18, 18};
    static constexpr Field StartMode{36, 1};
    static constexpr Field FileName{37, 64};
    static constexpr Field ROMID{101, 16};
    static constexpr Field SettingFlags{117, 1};
    static constexpr Field DefaultIP1{118, 18};
    static constexpr Field DefaultIP2{136, 18};
    static constexpr Field DefaultIP3{154, 18};
    static constexpr Field DefaultIP4{172, 18};
    static constexpr Field WindowCaption{190, 32};
    static constexpr Field TimeOut{222, 1};
    static constexpr Field MethodOrder{223, 1};

    // Parts of FileName in read-back mode (offsets inside FileName).
    static constexpr Field GetOutputName{0, 32};
    static constexpr Field GetOffset{32, 16};
    static constexpr Field GetLength{48, 16};

    // SettingFlags bits read by the main window; the others belong to the device search.
    static constexpr quint8 ReleaseToUser = 0x10;
    static constexpr quint8 LogEnabled = 0x20;
    static constexpr quint8 SectionIdCheck = 0x40;
    static constexpr quint8 InitialFlags = 0x9F;

    SettingsRecord(); // zeros, SettingFlags 0x9F

    // Overwrites the first min(bytes.size(), 224) bytes.
    void overlay(const QByteArray& bytes);
    QByteArray bytes() const;

    QString text(Field f) const;                 // up to the first zero, at most f.size bytes
    void setText(Field f, const QByteArray& v); // zero-padded, cut to the field width
    bool fits(Field f, const QByteArray& v) const { return v.size() < f.size; }
    quint8 byte(Field f) const { return raw_[f.offset]; }
    void setByte(Field f, quint8 v) { raw_[f.offset] = v; }

    QString dstIP() const { return text(DstIP); }
    QString passWd() const { return text(PassWd); }
    qint8 startMode() const { return qint8(byte(StartMode)); }
    QString fileName() const { return text(FileName); }
    QString romId() const { return text(ROMID); }
    quint8 settingFlags() const { return byte(SettingFlags); }
    QString defaultIP(int n) const; // n = 1..4
    QString windowCaption() const { return text(WindowCaption); }
    qint8 timeOut() const { return qint8(byte(TimeOut)); }
    quint8 methodOrder() const { return byte(MethodOrder); }

    // The read-back texts inside FileName.
    QString getText(Field part) const;
    void setGetText(Field part, const QByteArray& v);

private:
    std::array<quint8, Size> raw_{};
};

} // namespace fw
