#include "SimConfig.h"

#include "RouterRestart.h"

#include <array>
#include <cctype>

namespace routersim {

namespace {

// Keys of --router. Servers that join the simulator add theirs here and read them from
// RouterConfig::options.
const QStringList KnownKeys{QStringLiteral("state"),   QStringLiteral("romid"),
                            QStringLiteral("detail"),  QStringLiteral("echo"),
                            QStringLiteral("answers"), QStringLiteral("junk"),
                            QStringLiteral("extra"),   QStringLiteral("short"),
                            QStringLiteral("cut"),     QStringLiteral("delay"),
                            QStringLiteral("oversize"),
                            QStringLiteral("restart"), QStringLiteral("newdetail")};

// Counts larger than this are a typo, not a test.
constexpr int MaxCount = 100000;

// Splits on commas outside double quotes; quotes are removed.
QStringList splitSpec(const QString& spec) {
    QStringList parts;
    QString current;
    bool quoted = false;
    for (QChar c : spec) {
        if (c == u'"')
            quoted = !quoted;
        else if (c == u',' && !quoted) {
            parts << current;
            current.clear();
        } else
            current += c;
    }
    parts << current;
    return parts;
}

std::optional<bool> yesNo(const QString& v) {
    if (v == u"yes" || v == u"1" || v == u"true")
        return true;
    if (v == u"no" || v == u"0" || v == u"false")
        return false;
    return std::nullopt;
}

std::optional<int> count(const QString& v, int minimum) {
    bool ok = false;
    const int n = v.toInt(&ok);
    if (!ok || n < minimum || n > MaxCount)
        return std::nullopt;
    return n;
}

// A text knob's bytes: "\xHH" (two hex digits) stands for that byte, so that control
// characters can be given on a command line; every other character is taken as Latin-1.
QByteArray textKnob(const QString& v) {
    const QByteArray in = v.toLatin1();
    const auto hex = [](char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; };
    QByteArray out;
    for (qsizetype i = 0; i < in.size(); ++i) {
        if (in[i] == '\\' && i + 3 < in.size() && in[i + 1] == 'x' && hex(in[i + 2]) &&
            hex(in[i + 3])) {
            out += char(in.mid(i + 2, 2).toInt(nullptr, 16));
            i += 3;
            continue;
        }
        out += in[i];
    }
    return out;
}

std::optional<unsigned> answerList(const QString& v) {
    if (v == u"none")
        return 0u;
    unsigned bits = 0;
    for (const QString& name : v.split(u'+')) {
        if (name == u"query")
            bits |= Answer::Query;
        else if (name == u"boot")
            bits |= Answer::Boot;
        else if (name == u"tftp")
            bits |= Answer::Tftp;
        else if (name == u"default")
            bits |= Answer::Default;
        else
            return std::nullopt;
    }
    return bits;
}

} // namespace

unsigned defaultAnswers(RouterState state) {
    switch (state) {
    case RouterState::Normal:
        return Answer::Query | Answer::Boot;
    case RouterState::Default:
        return Answer::Default;
    case RouterState::Crashed:
        return Answer::Tftp;
    }
    return 0;
}

std::optional<RouterConfig> SimConfig::parseRouter(const QString& spec, QString* error) {
    const QStringList parts = splitSpec(spec);
    RouterConfig r;
    if (!r.address.setAddress(parts.first()) ||
        r.address.protocol() != QAbstractSocket::IPv4Protocol) {
        *error = QStringLiteral("not an IPv4 address: '%1'").arg(parts.first());
        return std::nullopt;
    }
    bool answersGiven = false;
    std::optional<std::optional<std::chrono::milliseconds>> silence;
    for (qsizetype i = 1; i < parts.size(); ++i) {
        const qsizetype eq = parts[i].indexOf(u'=');
        if (eq <= 0) {
            *error = QStringLiteral("expected key=value, got '%1'").arg(parts[i]);
            return std::nullopt;
        }
        const QString key = parts[i].left(eq);
        const QString value = parts[i].mid(eq + 1);
        if (!KnownKeys.contains(key)) {
            *error = QStringLiteral("unknown router key '%1'").arg(key);
            return std::nullopt;
        }
        r.options.insert(key, value);
        bool ok = true;
        if (key == u"state") {
            if (value == u"normal")
                r.state = RouterState::Normal;
            else if (value == u"default")
                r.state = RouterState::Default;
            else if (value == u"crashed" || value == u"crash")
                r.state = RouterState::Crashed;
            else
                ok = false;
        } else if (key == u"romid") {
            r.romId = textKnob(value);
        } else if (key == u"detail") {
            r.detail = textKnob(value);
        } else if (key == u"newdetail") {
            ok = !value.isEmpty();
        } else if (key == u"restart") {
            silence = RouterRestart::parseSilence(value);
            ok = silence.has_value();
        } else if (key == u"echo") {
            const auto v = yesNo(value);
            ok = v.has_value();
            r.echo = v.value_or(true);
        } else if (key == u"short") {
            const auto v = yesNo(value);
            ok = v.has_value();
            r.shortReplies = v.value_or(false);
        } else if (key == u"answers") {
            const auto v = answerList(value);
            ok = v.has_value();
            r.answers = v.value_or(0);
            answersGiven = true;
        } else {
            const auto v = count(value, 0);
            ok = v.has_value();
            const int n = v.value_or(0);
            if (key == u"junk")
                r.junk = n;
            else if (key == u"extra")
                r.extra = n;
            else if (key == u"cut")
                r.cut = n;
            else if (key == u"delay")
                r.delayMs = n;
            else if (key == u"oversize")
                r.oversize = n;
        }
        if (!ok) {
            *error = QStringLiteral("bad value for %1: '%2'").arg(key, value);
            return std::nullopt;
        }
    }
    if (!answersGiven)
        r.answers = defaultAnswers(r.state);
    if (r.options.contains(QStringLiteral("newdetail")) && !silence) {
        *error = QStringLiteral("newdetail needs restart");
        return std::nullopt;
    }
    if (silence)
        r.restart = std::make_shared<RouterRestart>(
            *silence, textKnob(r.options.value(QStringLiteral("newdetail"))));
    return r;
}

std::optional<SimConfig> SimConfig::parse(const QStringList& args, QString* error) {
    SimConfig c;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString& a = args[i];
        const bool hasValue = i + 1 < args.size();
        if (a == u"--router" && hasValue) {
            auto r = parseRouter(args[++i], error);
            if (!r)
                return std::nullopt;
            for (const RouterConfig& other : c.routers) {
                if (other.address == r->address) {
                    *error = QStringLiteral("router %1 given twice").arg(r->addressText());
                    return std::nullopt;
                }
            }
            c.routers << *r;
        } else if (a == u"--transcript" && hasValue) {
            c.transcriptPath = args[++i];
        } else if (a == u"--ports" && hasValue) {
            const QStringList p = args[++i].split(u',');
            std::array<quint16, 3> v{};
            bool ok = p.size() == 3;
            for (size_t k = 0; ok && k < v.size(); ++k) {
                const uint n = p[qsizetype(k)].toUInt(&ok);
                ok = ok && n > 0 && n < 65536;
                v[k] = quint16(n);
            }
            if (!ok) {
                *error = QStringLiteral("--ports wants QUERY,BOOT,TFTP");
                return std::nullopt;
            }
            c.ports = {v[0], v[1], v[2]};
        } else if (a == u"--web") {
            c.web = true;
        } else if (a == u"--ftp") {
            c.ftp = true;
        } else if (a == u"--no-echo") {
            c.answerEcho = false;
        } else if (a == u"--unicast-only") {
            c.listenBroadcast = false;
        } else {
            *error = QStringLiteral("unexpected argument '%1'").arg(a);
            return std::nullopt;
        }
    }
    if (c.routers.isEmpty()) {
        *error = QStringLiteral("no --router given");
        return std::nullopt;
    }
    return c;
}

QString SimConfig::usage() {
    return QStringLiteral(
        "usage: routersim --router ADDR[,key=value]... [--router ...] [--transcript FILE]\n"
        "                 [--ports QUERY,BOOT,TFTP] [--web [--web-options ADDR:KNOBS]...]\n"
        "                 [--ftp [--ftp-options ADDR:KNOBS]...] [--tftp-options ADDR:KNOBS]...\n"
        "                 [--no-echo] [--unicast-only]\n"
        "       routersim --help | --version\n"
        "router keys: state=normal|default|crashed  romid=TEXT  detail=TEXT  echo=yes|no\n"
        "             answers=none|query+boot+tftp+default  junk=N  extra=N  short=yes|no\n"
        "             cut=N  delay=MS  oversize=N  restart=SECONDS|never  newdetail=TEXT\n"
        "             (in a TEXT, \\xHH stands for that byte)\n");
}

} // namespace routersim
