// fwpack settings and fwpack message: the two records carried as embedded files.

#include "FwpackSupport.h"

#include "message/MessageRecord.h"
#include "settings/SettingsRecord.h"

namespace fwpack {

namespace {

using Field = fw::SettingsRecord::Field;

const QFileDevice::Permissions kDataFilePermissions =
    QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup |
    QFileDevice::ReadOther;

struct TextOption {
    const char* name;
    Field field;
    const char* help;
};

// The settings file as it ships: unattended start "set", flags 0x1A, built-in addresses and
// caption, no time-out override, FTP first.
fw::SettingsRecord shippedSettings() {
    using S = fw::SettingsRecord;
    S r;
    r.setByte(S::StartMode, 4);
    r.setByte(S::SettingFlags, 0x1A);
    for (const Field f :
         {S::DefaultIP1, S::DefaultIP2, S::DefaultIP3, S::DefaultIP4, S::WindowCaption})
        r.setText(f, "default");
    r.setByte(S::TimeOut, 0);
    r.setByte(S::MethodOrder, 2);
    return r;
}

bool writeBytes(const QString& path, const QByteArray& bytes, QString* why) {
    return writeAtomically(
        path, kDataFilePermissions,
        [&](QFile& f, QString* error) {
            if (f.write(bytes) == bytes.size())
                return true;
            *error = QStringLiteral("cannot write %1: %2").arg(path, f.errorString());
            return false;
        },
        why);
}

} // namespace

int runSettings(const QStringList& args) {
    using S = fw::SettingsRecord;
    static const TextOption texts[] = {
        {"dst-ip", S::DstIP, "router address"},
        {"password", S::PassWd, "router password"},
        {"file-name", S::FileName, "upgrade file path (put, set)"},
        {"romid", S::ROMID, "ROM identifier for the search"},
        {"default-ip1", S::DefaultIP1, "first default router address"},
        {"default-ip2", S::DefaultIP2, "second default router address"},
        {"default-ip3", S::DefaultIP3, "third default router address"},
        {"default-ip4", S::DefaultIP4, "fourth default router address"},
        {"caption", S::WindowCaption, "main window caption"},
    };
    static const TextOption getTexts[] = {
        {"get-output", S::GetOutputName, "read-back output file"},
        {"get-offset", S::GetOffset, "read-back ROM offset"},
        {"get-length", S::GetLength, "read-back length"},
    };
    QCommandLineParser parser;
    const QCommandLineOption output({QStringLiteral("o"), QStringLiteral("output")},
                                    QStringLiteral("output file"), QStringLiteral("OUT"));
    parser.addOption(output);
    for (const TextOption& t : texts)
        parser.addOption({QLatin1String(t.name), QLatin1String(t.help), QStringLiteral("TEXT")});
    for (const TextOption& t : getTexts)
        parser.addOption({QLatin1String(t.name), QLatin1String(t.help), QStringLiteral("TEXT")});
    for (const char* n : {"start-mode", "flags", "timeout", "method-order"})
        parser.addOption({QLatin1String(n), QString(), QStringLiteral("N")});
    if (!parseCommand(parser, QStringLiteral("settings"), args))
        return ExitUsage;
    if (!parser.isSet(output))
        return usageError(QStringLiteral("settings: -o OUT is required"));
    if (!parser.positionalArguments().isEmpty())
        return usageError(QStringLiteral("settings: unexpected argument \"%1\"")
                              .arg(parser.positionalArguments()[0]));

    S record = shippedSettings();
    QString why;
    for (const TextOption& t : texts) {
        if (!parser.isSet(QLatin1String(t.name)))
            continue;
        const auto v = fieldText(QLatin1String(t.name), parser.value(QLatin1String(t.name)),
                                 t.field.size, &why);
        if (!v)
            return fail(why);
        record.setText(t.field, *v);
    }
    bool anyGet = false;
    for (const TextOption& t : getTexts) {
        if (!parser.isSet(QLatin1String(t.name)))
            continue;
        anyGet = true;
        const auto v = fieldText(QLatin1String(t.name), parser.value(QLatin1String(t.name)),
                                 t.field.size, &why);
        if (!v)
            return fail(why);
        record.setGetText(t.field, *v);
    }
    if (anyGet && parser.isSet(QStringLiteral("file-name")))
        return usageError(QStringLiteral(
            "settings: --file-name and --get-* share one field; give one or the other"));

    if (parser.isSet(QStringLiteral("start-mode"))) {
        const QString mode = parser.value(QStringLiteral("start-mode")).toLower();
        std::optional<qint64> v;
        if (mode == QLatin1String("get"))
            v = 1;
        else if (mode == QLatin1String("put"))
            v = 2;
        else if (mode == QLatin1String("set"))
            v = 4;
        else
            v = parseNumber(mode, -128, 127);
        if (!v)
            return fail(
                QStringLiteral("--start-mode: \"%1\" is not put, get, set or -128..127").arg(mode));
        record.setByte(S::StartMode, quint8(qint8(*v)));
    }
    struct ByteOption {
        const char* name;
        Field field;
        qint64 min, max;
    };
    for (const ByteOption& b : {ByteOption{"flags", S::SettingFlags, 0, 255},
                                ByteOption{"timeout", S::TimeOut, -128, 127},
                                ByteOption{"method-order", S::MethodOrder, 0, 255}}) {
        if (!parser.isSet(QLatin1String(b.name)))
            continue;
        const auto v = parseNumber(parser.value(QLatin1String(b.name)), b.min, b.max);
        if (!v)
            return fail(QStringLiteral("--%1: \"%2\" is not a number in %3..%4")
                            .arg(QLatin1String(b.name), parser.value(QLatin1String(b.name)))
                            .arg(b.min)
                            .arg(b.max));
        record.setByte(b.field, quint8(*v));
    }
    if (!writeBytes(parser.value(output), record.bytes(), &why))
        return fail(why);
    return ExitOk;
}

int runMessage(const QStringList& args) {
    QCommandLineParser parser;
    const QCommandLineOption output({QStringLiteral("o"), QStringLiteral("output")},
                                    QStringLiteral("output file"), QStringLiteral("OUT"));
    parser.addOption(output);
    for (const char* n : {"text", "name", "caption", "live-time", "mode1", "mode2", "colour"})
        parser.addOption({QLatin1String(n), QString(), QStringLiteral("VALUE")});
    parser.addOption({QStringLiteral("no-blink"), QString()});
    if (!parseCommand(parser, QStringLiteral("message"), args))
        return ExitUsage;
    if (!parser.isSet(output) || !parser.isSet(QStringLiteral("text")))
        return usageError(QStringLiteral("message: -o OUT and --text FILE are required"));
    if (!parser.positionalArguments().isEmpty())
        return usageError(QStringLiteral("message: unexpected argument \"%1\"")
                              .arg(parser.positionalArguments()[0]));

    fw::MessageRecord m;
    m.colour = 0x00FFFFFF;
    QString why;
    if (parser.isSet(QStringLiteral("name"))) {
        const auto v =
            fieldText(QStringLiteral("name"), parser.value(QStringLiteral("name")), 16, &why);
        if (!v)
            return fail(why);
        m.name = *v;
    }
    if (parser.isSet(QStringLiteral("caption"))) {
        const auto v =
            fieldText(QStringLiteral("caption"), parser.value(QStringLiteral("caption")), 64, &why);
        if (!v)
            return fail(why);
        m.caption = *v;
    }
    struct NumberOption {
        const char* name;
        qint64 max;
        qint64* into;
    };
    qint64 liveTime = 0, mode1 = 0, mode2 = 0, colour = m.colour;
    for (const NumberOption& n :
         {NumberOption{"live-time", 0xFFFF, &liveTime}, NumberOption{"mode1", 0xFF, &mode1},
          NumberOption{"mode2", 0xFF, &mode2}, NumberOption{"colour", 0xFFFFFFFF, &colour}}) {
        if (!parser.isSet(QLatin1String(n.name)))
            continue;
        const auto v = parseNumber(parser.value(QLatin1String(n.name)), 0, n.max);
        if (!v)
            return fail(QStringLiteral("--%1: \"%2\" is not a number in 0..%3")
                            .arg(QLatin1String(n.name), parser.value(QLatin1String(n.name)))
                            .arg(n.max));
        *n.into = *v;
    }
    m.liveTime = quint16(liveTime);
    m.modeByte1 = quint8(mode1);
    m.modeByte2 = quint8(mode2);
    m.colour = quint32(colour);
    m.noBlink = parser.isSet(QStringLiteral("no-blink")) ? 1 : 0;

    QFile text(parser.value(QStringLiteral("text")));
    if (!text.open(QIODevice::ReadOnly))
        return fail(QStringLiteral("%1: %2").arg(text.fileName(), text.errorString()));
    if (text.size() > 0xFFFF)
        return fail(QStringLiteral("%1: %2 bytes; a message text holds at most 65535")
                        .arg(text.fileName())
                        .arg(text.size()));
    m.text = text.readAll();
    if (m.text.size() != text.size())
        return fail(QStringLiteral("%1: cannot read it whole").arg(text.fileName()));
    if (!writeBytes(parser.value(output), m.serialize(), &why))
        return fail(why);
    return ExitOk;
}

} // namespace fwpack
