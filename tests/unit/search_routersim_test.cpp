// The router simulator's pieces: its command line, its discovery answers (checked against the
// program's own acceptance tests and offsets), its echo replies and its transcript lines.

#include "Discovery.h"
#include "DiscoveryEcho.h"
#include "SimConfig.h"
#include "Transcript.h"
#include "net/IcmpEcho.h"
#include "search/DeviceSearch.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

using namespace routersim;
using fw::DeviceSearch;
namespace ProbeKind = fw::ProbeKind;

namespace {

RouterConfig parsed(const QString& spec) {
    QString error;
    auto r = SimConfig::parseRouter(spec, &error);
    EXPECT_TRUE(r.has_value()) << error.toStdString();
    return r.value_or(RouterConfig{});
}

QString parseError(const QStringList& args) {
    QString error;
    EXPECT_FALSE(SimConfig::parse(args, &error).has_value());
    return error;
}

} // namespace

TEST(SimCommandLine, RouterSpecWithEveryKnob) {
    const RouterConfig r =
        parsed(QStringLiteral("192.168.123.9,state=crashed,romid=ABC123,detail=\"Router, X\","
                              "echo=no,junk=2,extra=3,short=yes,cut=10,delay=5"));
    EXPECT_EQ(r.addressText(), QStringLiteral("192.168.123.9"));
    EXPECT_EQ(r.state, RouterState::Crashed);
    EXPECT_EQ(r.romId, QByteArray("ABC123"));
    EXPECT_EQ(r.detail, QByteArray("Router, X"));
    EXPECT_FALSE(r.echo);
    EXPECT_EQ(r.junk, 2);
    EXPECT_EQ(r.extra, 3);
    EXPECT_TRUE(r.shortReplies);
    EXPECT_EQ(r.cut, 10);
    EXPECT_EQ(r.delayMs, 5);
    EXPECT_EQ(r.answers, Answer::Tftp);
    EXPECT_EQ(r.options.value(QStringLiteral("detail")), QStringLiteral("Router, X"));
}

TEST(SimCommandLine, AnswersFollowTheStateUnlessGiven) {
    EXPECT_EQ(parsed(QStringLiteral("10.0.0.1")).answers, Answer::Query | Answer::Boot);
    EXPECT_TRUE(parsed(QStringLiteral("10.0.0.1")).echo);
    EXPECT_EQ(parsed(QStringLiteral("10.0.0.1,state=default")).answers, Answer::Default);
    EXPECT_EQ(parsed(QStringLiteral("10.0.0.1,answers=query+tftp")).answers,
              Answer::Query | Answer::Tftp);
    EXPECT_EQ(parsed(QStringLiteral("10.0.0.1,answers=none,state=crashed")).answers, 0u);
}

TEST(SimCommandLine, MistakesAreReported) {
    QString e;
    EXPECT_FALSE(SimConfig::parseRouter(QStringLiteral("router.local"), &e));
    EXPECT_FALSE(SimConfig::parseRouter(QStringLiteral("::1"), &e));
    EXPECT_FALSE(SimConfig::parseRouter(QStringLiteral("10.0.0.1,colour=red"), &e));
    EXPECT_EQ(e, QStringLiteral("unknown router key 'colour'"));
    EXPECT_FALSE(SimConfig::parseRouter(QStringLiteral("10.0.0.1,state=sleepy"), &e));
    EXPECT_FALSE(SimConfig::parseRouter(QStringLiteral("10.0.0.1,junk=-1"), &e));
    EXPECT_FALSE(SimConfig::parseRouter(QStringLiteral("10.0.0.1,echo"), &e));
    EXPECT_FALSE(SimConfig::parseRouter(QStringLiteral("10.0.0.1,answers=query+web"), &e));

    EXPECT_EQ(parseError({}), QStringLiteral("no --router given"));
    EXPECT_EQ(parseError({QStringLiteral("--router"), QStringLiteral("10.0.0.1"),
                          QStringLiteral("--router"), QStringLiteral("10.0.0.1,state=default")}),
              QStringLiteral("router 10.0.0.1 given twice"));
    EXPECT_EQ(parseError({QStringLiteral("--router"), QStringLiteral("10.0.0.1"),
                          QStringLiteral("--ports"), QStringLiteral("9,67")}),
              QStringLiteral("--ports wants QUERY,BOOT,TFTP"));
    EXPECT_EQ(parseError({QStringLiteral("--bogus")}),
              QStringLiteral("unexpected argument '--bogus'"));
}

TEST(SimCommandLine, WholeCommandLine) {
    QString e;
    const auto c = SimConfig::parse(
        {QStringLiteral("--router"), QStringLiteral("192.168.123.254,romid=A"),
         QStringLiteral("--router"), QStringLiteral("192.168.123.9,state=crashed"),
         QStringLiteral("--transcript"), QStringLiteral("/tmp/t.txt"), QStringLiteral("--ports"),
         QStringLiteral("1009,1067,1069"), QStringLiteral("--web"), QStringLiteral("--no-echo"),
         QStringLiteral("--unicast-only")},
        &e);
    ASSERT_TRUE(c.has_value()) << e.toStdString();
    ASSERT_EQ(c->routers.size(), 2);
    EXPECT_EQ(c->transcriptPath, QStringLiteral("/tmp/t.txt"));
    EXPECT_EQ(c->ports.query, 1009);
    EXPECT_EQ(c->ports.boot, 1067);
    EXPECT_EQ(c->ports.tftp, 1069);
    EXPECT_TRUE(c->web);
    EXPECT_FALSE(c->answerEcho);
    EXPECT_FALSE(c->listenBroadcast);
}

TEST(SimAnswers, LaidOutWhereTheProgramReadsThem) {
    RouterConfig r = parsed(QStringLiteral("10.0.0.1,romid=ABC123,detail=Router X"));
    DeviceSearch s;
    s.setEchoFunction([](const QString&) { return true; });

    const QByteArray query = Discovery::queryAnswer(r);
    EXPECT_EQ(query.size(), 68);
    EXPECT_EQ(DeviceSearch::textAt(query, 12), QStringLiteral("Router X"));
    EXPECT_EQ(DeviceSearch::textAt(query, 44), QStringLiteral("ABC123"));

    const QByteArray boot = Discovery::bootAnswer(r);
    EXPECT_EQ(boot.size(), 548);
    EXPECT_EQ(quint8(boot[0]), 0xC1);
    EXPECT_TRUE(DeviceSearch::acceptsReply(ProbeKind::BootPort, boot));
    EXPECT_EQ(DeviceSearch::textAt(boot, 108), QStringLiteral("ABC123"));
    EXPECT_EQ(DeviceSearch::textAt(boot, 140), QStringLiteral("Router X"));

    EXPECT_EQ(Discovery::tftpAnswer(r), QByteArray("\0\3\0\1$KestroABC123\0", 18));
    EXPECT_TRUE(DeviceSearch::acceptsReply(ProbeKind::Tftp, Discovery::tftpAnswer(r)));
    EXPECT_LE(Discovery::defaultAnswer(r).size(), 64);

    EXPECT_FALSE(DeviceSearch::acceptsReply(ProbeKind::BootPort, Discovery::junk(Answer::Boot)));
    EXPECT_FALSE(DeviceSearch::acceptsReply(ProbeKind::Tftp, Discovery::junk(Answer::Tftp)));

    r.shortReplies = true;
    EXPECT_EQ(Discovery::queryAnswer(r).size(), 44 + 6);
    EXPECT_EQ(Discovery::bootAnswer(r).size(), 140 + 8);
    EXPECT_FALSE(Discovery::tftpAnswer(r).endsWith('\0'));
}

TEST(SimAnswers, JunkExtraCopiesAndCut) {
    RouterConfig r = parsed(QStringLiteral("10.0.0.1,junk=2,extra=1,cut=20"));
    const QList<QByteArray> boot = Discovery::answersFor(r, Answer::Boot);
    ASSERT_EQ(boot.size(), 4);
    EXPECT_EQ(boot[0], Discovery::junk(Answer::Boot));
    EXPECT_EQ(boot[1], Discovery::junk(Answer::Boot));
    EXPECT_EQ(boot[2], Discovery::bootAnswer(r).left(20));
    EXPECT_EQ(boot[3], boot[2]);
    // The query probe has no acceptance test to fail: no junk there.
    EXPECT_EQ(Discovery::answersFor(r, Answer::Query).size(), 2);
}

TEST(SimAnswers, RequestsRecognised) {
    DeviceSearch s;
    using S = Discovery::Service;
    EXPECT_EQ(Discovery::requestKind(S::Query, s.request(ProbeKind::Query)), Answer::Query);
    EXPECT_EQ(Discovery::requestKind(S::Query, s.request(ProbeKind::DefaultAddress)),
              Answer::Default);
    EXPECT_EQ(Discovery::requestKind(S::Boot, s.request(ProbeKind::BootPort)), Answer::Boot);
    EXPECT_EQ(Discovery::requestKind(S::Tftp, s.request(ProbeKind::Tftp)), Answer::Tftp);
    EXPECT_EQ(Discovery::requestKind(S::Tftp, QByteArray("\0\2fw.bin\0octet\0", 15)), 0u);
    EXPECT_EQ(Discovery::requestKind(S::Boot, QByteArray("\xC0\x01", 2)), 0u);
    EXPECT_EQ(Discovery::requestKind(S::Query, QByteArray("XX")), 0u);
}

TEST(SimEcho, ReplyMirrorsTheRequestWithValidChecksum) {
    QByteArray request = QByteArray::fromHex("0800000012340007") + fw::IcmpEcho::payload();
    const quint16 sum = fw::IcmpEcho::checksum(request);
    request[2] = char(sum >> 8);
    request[3] = char(sum & 0xFF);
    const QByteArray reply = DiscoveryEcho::replyTo(request);
    ASSERT_EQ(reply.size(), request.size());
    EXPECT_EQ(quint8(reply[0]), 0);
    EXPECT_EQ(reply.mid(4), request.mid(4));
    EXPECT_EQ(fw::IcmpEcho::checksum(reply), 0);
    EXPECT_TRUE(DiscoveryEcho::replyTo(QByteArray::fromHex("0000000012340007")).isEmpty());
    EXPECT_TRUE(DiscoveryEcho::replyTo(QByteArray::fromHex("0800")).isEmpty());
}

TEST(SimTranscript, LinesRoundTripThroughTheFile) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("t.txt"));
    Transcript t;
    QString error;
    ASSERT_TRUE(t.open(path, &error)) << error.toStdString();
    t.record(QStringLiteral("udp"), QStringLiteral("127.0.0.1:5000"),
             QStringLiteral("255.255.255.255:9"), QByteArray("QD\0\0", 4));
    t.record(QStringLiteral("icmp"), QStringLiteral("127.0.0.1"), QStringLiteral("192.168.123.254"),
             QByteArray());
    EXPECT_EQ(Transcript::formatLine(t.entries()[0]),
              QStringLiteral("udp 127.0.0.1:5000 255.255.255.255:9 51440000"));
    // Written through at once, before the transcript is closed.
    EXPECT_EQ(Transcript::readFile(path), t.entries());
    EXPECT_FALSE(Transcript::parseLine(QStringLiteral("udp a b 5")).has_value());
    EXPECT_FALSE(Transcript::parseLine(QStringLiteral("udp a b zz")).has_value());
    EXPECT_FALSE(Transcript::parseLine(QStringLiteral("udp a 00")).has_value());
    EXPECT_TRUE(Transcript::readFile(dir.filePath(QStringLiteral("none"))).isEmpty());
}
