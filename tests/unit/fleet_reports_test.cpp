// The pieces behind headless reports and fwfleet: JSON Lines objects, the progress throttle, the
// ROUTERS file and how one child's JSON Lines become a router's state and report entry.

#include "FleetDisplay.h"
#include "FleetJob.h"
#include "RouterList.h"
#include "ui/JsonLines.h"
#include "ui/ProgressThrottle.h"

#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>

using namespace fleet;
using fw::JsonLines;
using fw::ProgressThrottle;
using std::chrono::milliseconds;

TEST(JsonLinesTest, ObjectsCarryRawTextsAndTheExitIsLast) {
    QList<QByteArray> lines;
    JsonLines w([&](const QByteArray& l) { lines << l; });
    const QString raw = QStringLiteral("a\"b\\c\x1b[2J\nline\x7f\u00e9");
    w.write(QStringLiteral("log"), {{QStringLiteral("text"), raw}});
    w.writeExit(3);
    w.write(QStringLiteral("status"), {{QStringLiteral("text"), QStringLiteral("late")}});
    w.writeExit(0);
    ASSERT_EQ(lines.size(), 2);
    for (const QByteArray& l : lines) {
        EXPECT_TRUE(l.endsWith('\n'));
        EXPECT_EQ(l.count('\n'), 1); // a text's line end cannot split the object
    }
    const QJsonObject log = QJsonDocument::fromJson(lines[0]).object();
    EXPECT_EQ(log.value("kind").toString(), "log");
    EXPECT_EQ(log.value("text").toString(), raw);
    EXPECT_GE(log.value("t").toDouble(), 0.0);
    const QJsonObject exit = QJsonDocument::fromJson(lines[1]).object();
    EXPECT_EQ(exit.value("kind").toString(), "exit");
    EXPECT_EQ(exit.value("status").toInt(-1), 3);
    EXPECT_TRUE(w.ended());
}

TEST(ProgressThrottleTest, OnePercentMovesAtMostTenTimesASecond) {
    ProgressThrottle p;
    p.setMaximum(1000);
    EXPECT_EQ(p.offer(9, milliseconds(0)), std::nullopt); // under 1 %
    EXPECT_FALSE(p.pending());
    EXPECT_EQ(p.offer(10, milliseconds(0)), 10);
    EXPECT_EQ(p.offer(500, milliseconds(40)), std::nullopt); // too soon: held
    EXPECT_TRUE(p.pending());
    EXPECT_EQ(p.wait(milliseconds(40)), milliseconds(60));
    EXPECT_EQ(p.offer(600, milliseconds(100)), 600);
    EXPECT_EQ(p.offer(605, milliseconds(300)), std::nullopt);
    EXPECT_EQ(p.offer(5000, milliseconds(300)), 1000); // clamped to the bar
    // A new bar starts empty; a 1 % step of an odd maximum rounds up.
    p.setMaximum(101);
    EXPECT_EQ(p.offer(1, milliseconds(500)), std::nullopt);
    EXPECT_EQ(p.offer(2, milliseconds(500)), 2);
    p.setMaximum(0);
    EXPECT_EQ(p.offer(0, milliseconds(900)), std::nullopt);
}

TEST(RouterListTest, FieldsCommentsAndNull) {
    QString error;
    const auto list = RouterList::parse("# fleet\n\n192.168.1.1  pw1\tQR240 # first\r\n"
                                        "10.0.0.2 null null\n   # only a comment\n",
                                        &error);
    ASSERT_TRUE(list) << error.toStdString();
    ASSERT_EQ(list->size(), 2);
    EXPECT_EQ((*list)[0].lineNumber, 3);
    EXPECT_EQ((*list)[0].address, "192.168.1.1");
    EXPECT_EQ((*list)[0].password, "pw1");
    EXPECT_EQ((*list)[0].romId, "QR240");
    EXPECT_EQ((*list)[1].password, "");
    EXPECT_EQ(RouterList::commandLineField((*list)[1].romId), "null");
}

TEST(RouterListTest, TheFirstMalformedLineIsNamed) {
    const std::pair<const char*, const char*> cases[] = {
        {"192.168.1.1 a b\n192.168.1.2 a\n", "line 2: expected ADDRESS PASSWORD ROMID, found 2 fields"},
        {"# x\n192.168.1.1 a b c\n", "line 2: expected ADDRESS PASSWORD ROMID, found 4 fields"},
        {"192.168.1.256 a b\n", "line 1: the address is not an IPv4 address"},
        {"null a b\n", "line 1: the address is not an IPv4 address"},
        {"10.0.0.1 a b\n\n10.0.0.1 c d\n", "line 3: 10.0.0.1 is already on line 1"},
        {"10.0.0.1 a\x01 b\n", "line 1: a field holds a control character"},
    };
    for (const auto& [text, expected] : cases) {
        QString error;
        EXPECT_FALSE(RouterList::parse(text, &error)) << text;
        EXPECT_EQ(error.toStdString(), expected);
    }
}

TEST(FleetJobTest, PhasesMethodBytesBoxAndExitFromTheObjects) {
    FleetJob job({7, QStringLiteral("10.0.0.7"), QStringLiteral("pw"), QStringLiteral("QR")});
    EXPECT_EQ(FleetJob::stateName(job.state()), "waiting");
    job.started();
    EXPECT_EQ(FleetJob::stateName(job.state()), "searching");
    // The wording of log lines no longer moves a job.
    EXPECT_TRUE(job.feedLine(R"({"kind":"log","t":1,"text":"send login PKT success"})"));
    EXPECT_EQ(FleetJob::stateName(job.state()), "searching");
    job.feedLine(R"({"kind":"router","t":1,"address":"10.0.0.7","romId":"QR","detail":"V2.40"})");
    job.feedLine(R"({"kind":"phase","t":1,"phase":"logging in"})");
    EXPECT_EQ(FleetJob::stateName(job.state()), "logging in");
    job.feedLine(R"({"kind":"phase","t":1,"phase":"sending","method":"FTP"})");
    EXPECT_EQ(job.method(), "FTP");
    EXPECT_EQ(FleetJob::stateName(job.state()), "sending");
    job.feedLine(R"({"kind":"progress","t":2,"position":300,"maximum":1000})");
    EXPECT_EQ(job.percent(), 30);
    // FTP failed part-way, HTTP sends the whole image again; a method not the program's is
    // not taken.
    job.feedLine(R"({"kind":"phase","t":3,"phase":"sending","method":"HTTP"})");
    EXPECT_EQ(job.percent(), -1);
    job.feedLine(R"({"kind":"phase","t":3,"phase":"sending","method":"\u001b[2J"})");
    job.feedLine(R"({"kind":"progress","t":3,"position":1000,"maximum":2000})");
    job.feedLine(R"({"kind":"progress","t":3,"position":2000,"maximum":2000})");
    job.feedLine(R"({"kind":"box","t":4,"caption":"Failure","text":"x","buttons":["OK"],"answer":"OK"})");
    EXPECT_FALSE(job.feedLine("not json"));
    job.feedLine(R"({"kind":"exit","t":5,"status":1})");
    job.feedLine(R"({"kind":"progress","t":6,"position":5,"maximum":9})"); // after the exit
    job.finished(0, 5.25);
    EXPECT_EQ(FleetJob::stateName(job.state()), "failed");
    const QJsonObject e = job.reportEntry();
    EXPECT_EQ(e.value("address").toString(), "10.0.0.7");
    EXPECT_EQ(e.value("romId").toString(), "QR");
    EXPECT_EQ(e.value("method").toString(), "HTTP");
    EXPECT_EQ(e.value("bytesSent").toInteger(), 2300);
    EXPECT_EQ(e.value("exitStatus").toInt(), 1); // the exit object, not the process code
    EXPECT_EQ(e.value("seconds").toDouble(), 5.25);
    EXPECT_EQ(e.value("before").toString(), "V2.40");
    EXPECT_TRUE(e.value("after").isNull());
    EXPECT_EQ(e.value("lastBox").toObject().value("caption").toString(), "Failure");
    EXPECT_EQ(e.value("log").toArray().size(), 1);

    FleetJob crashed({1, QStringLiteral("10.0.0.1"), {}, {}});
    crashed.started();
    crashed.finished(-1, 0.5);
    EXPECT_EQ(crashed.reportEntry().value("exitStatus").toInt(), -1);
    EXPECT_TRUE(crashed.reportEntry().value("lastBox").isNull());
    EXPECT_TRUE(crashed.reportEntry().value("before").isNull());
}

TEST(FleetJobTest, EachOutcomeFromItsObjects) {
    struct Case {
        QList<QByteArray> lines;
        int processStatus;
        const char* state;
        QJsonValue before, after;
    };
    const QByteArray router = R"({"kind":"router","address":"10.0.0.1","romId":"R","detail":"V1"})";
    const Case cases[] = {
        {{router, R"({"kind":"exit","status":0})"}, 0, "upgraded", "V1", QJsonValue::Null},
        {{router, R"({"kind":"verify","state":"back","before":"V1","after":"V2","seconds":9})",
          R"({"kind":"exit","status":0})"},
         0, "verified", "V1", "V2"},
        {{router, R"({"kind":"verify","state":"timeout","before":"V1","after":null,"seconds":60})",
          R"({"kind":"exit","status":4})"},
         4, "unverified", "V1", QJsonValue::Null},
        {{router, R"({"kind":"verify","state":"mismatch","before":"V1","after":"V1","seconds":8})",
          R"({"kind":"exit","status":4})"},
         4, "unverified", "V1", "V1"},
        {{router, R"({"kind":"skip","detail":"V1"})", R"({"kind":"exit","status":0})"}, 0,
         "up-to-date", "V1", "V1"},
        {{router, R"({"kind":"plan","method":"TFTP","files":[{"name":"a","bytes":7}],"bytes":7})",
          R"({"kind":"exit","status":0})"},
         0, "would-upgrade", "V1", QJsonValue::Null},
        // A verify object that is not "back" never counts as confirmed, whatever the status.
        {{R"({"kind":"verify","state":"timeout","before":"V1","after":null})",
          R"({"kind":"exit","status":0})"},
         0, "unverified", "V1", QJsonValue::Null},
        {{router}, 0, "upgraded", "V1", QJsonValue::Null}, // no exit object: the process code
        {{router, R"({"kind":"exit","status":3})"}, 3, "failed", "V1", QJsonValue::Null},
    };
    for (const Case& c : cases) {
        FleetJob job({1, QStringLiteral("10.0.0.1"), {}, QStringLiteral("R")});
        job.started();
        for (const QByteArray& l : c.lines)
            EXPECT_TRUE(job.feedLine(l));
        job.finished(c.processStatus, 1);
        const QJsonObject e = job.reportEntry();
        SCOPED_TRACE(c.state);
        EXPECT_EQ(e.value("state").toString(), c.state);
        EXPECT_EQ(e.value("before"), c.before);
        EXPECT_EQ(e.value("after"), c.after);
    }
    FleetJob planned({1, QStringLiteral("10.0.0.1"), {}, {}});
    planned.started();
    planned.feedLine(R"({"kind":"plan","method":"FTP","files":[],"bytes":4096})");
    planned.feedLine(R"({"kind":"exit","status":0})");
    planned.finished(0, 1);
    EXPECT_EQ(planned.method(), "FTP");
    EXPECT_EQ(planned.reportEntry().value("plannedBytes").toInteger(), 4096);
    EXPECT_EQ(planned.bytesSent(), 0);
}

TEST(FleetDisplayTest, RepaintRewritesOnlyTheLinesThatChanged) {
    EXPECT_EQ(FleetDisplay::repaint({}, {"a", "s"}), "\r\x1b[2Ka\n\r\x1b[2Ks\n");
    EXPECT_EQ(FleetDisplay::repaint({"a", "s"}, {"a", "s"}), "");
    // Up to the block's first line, past the unchanged one, the summary, then one line more.
    EXPECT_EQ(FleetDisplay::repaint({"a", "s"}, {"a", "b", "t"}),
              "\x1b[2A\x1b[1B\r\x1b[2Kb\n\r\x1b[2Kt\n");
    EXPECT_EQ(FleetDisplay::repaint({"a", "b", "s"}, {"x", "b", "s"}), "\x1b[3A\r\x1b[2Kx\n\x1b[2B");
    // A shorter terminal: the rest of the old block is cleared.
    EXPECT_EQ(FleetDisplay::repaint({"a", "b", "s"}, {"a", "t"}), "\x1b[3A\x1b[1B\r\x1b[2Kt\n\x1b[J");
}
