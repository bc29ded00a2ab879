#include "WebServer.h"
#include "http/HttpEngine.h"
#include "message/MessageRecord.h"
#include "socket_test_support.h"

#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace fw;
using namespace fw::test;
using routersim::WebServer;
using routersim::WebServerConfig;

namespace {

const QString kLoopback = QStringLiteral("127.0.0.1");
constexpr quint16 kDefault = 0x080D;
constexpr quint16 kFallback = 0x0817; // section A
constexpr quint16 kSpecific = 0x0826; // section B

const QByteArray kPartHeader =
    "-----------------123456789\r\n"
    "Content-Disposition: from-data; name=\"FN\"; filename=\"upgrade.bin\" \r\n"
    "Content-Type: application/octet-stream \r\n"
    "\r\n";
const QByteArray kEndMarker = "\r\n----\r\n";

QByteArray requestHeader(qint64 contentLength) {
    return "POST /upg HTTP/1.0\r\n"
           "User-Agent: Quarnel_Agent\r\n"
           "Connection: Keep-Alive\r\n"
           "Content-Type: multipart/form-data: boundary=-----------------123456789\r\n"
           "Content-Length: " +
           QByteArray::number(contentLength) + "\r\n\r\n";
}

class UploadTest : public ::testing::Test {
protected:
    QTemporaryDir dir;
    ExtractionList list;
    RecordingSinks rec;
    StopCounter stop{7};
    WebServer server;

    void SetUp() override {
        list.append(dir.filePath(QStringLiteral("self.exe.tmp")), 0, 0);
        ASSERT_TRUE(server.start(kLoopback, 0));
    }
    QByteArray add(const QString& name, quint16 attribute, qsizetype size) {
        QByteArray bytes(size, Qt::Uninitialized);
        for (qsizetype i = 0; i < size; ++i)
            bytes[i] = char(QRandomGenerator::global()->bounded(256));
        QFile f(dir.filePath(name));
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
        list.append(f.fileName(), attribute, 1);
        return bytes;
    }
    void answer(const QString& options) {
        auto cfg = WebServerConfig::parse(options);
        ASSERT_TRUE(cfg);
        server.setConfig(*cfg);
    }
    int upload(const QString& romId = QString(), HttpEngine* use = nullptr) {
        HttpEngine own;
        HttpEngine& e = use ? *use : own;
        const int r = e.UploadFirmware(stop, rec.sinks(), list, kLoopback, server.port(), romId);
        resultText = e.resultText;
        sections = e.sentSections;
        filesSent = e.filesSent;
        return r;
    }
    QByteArray wire() const {
        const auto requests = server.requests();
        return requests.isEmpty() ? QByteArray() : requests.constLast().bytes;
    }

    QString resultText;
    QString sections;
    int filesSent = 0;
};

} // namespace

TEST(UploadHeaderTest, ExactHeaderAndContentLength) {
    EXPECT_EQ(HttpEngine::PartHeader(), kPartHeader);
    EXPECT_EQ(HttpEngine::PartHeader().size(), 139);
    EXPECT_EQ(HttpEngine::EndMarker(), kEndMarker);
    EXPECT_EQ(HttpEngine::BuildUploadHeader(1000), requestHeader(1147) + kPartHeader);
    EXPECT_EQ(HttpEngine::BuildUploadHeader(0), requestHeader(147) + kPartHeader);
    EXPECT_TRUE(
        HttpEngine::BuildUploadHeader(qint64(5) << 30).contains("Content-Length: 5368709267\r\n"));
}

TEST_F(UploadTest, SpecificFileTakesThePlaceOfTheDefault) {
    const QByteArray specific = add(QStringLiteral("ABC123.bin.tmp"), kSpecific, 5000);
    add(QStringLiteral("generic.bin.tmp"), kFallback, 300);
    EXPECT_EQ(upload(QStringLiteral("abc")), 1);
    EXPECT_EQ(wire(), requestHeader(5000 + 147) + kPartHeader + specific + kEndMarker);
    EXPECT_EQ(resultText, QStringLiteral("Upgrade Successfully"));
    EXPECT_EQ(sections, QStringLiteral("B"));
    EXPECT_EQ(filesSent, 1);
    EXPECT_EQ(stop, 0);
    const QStringList log = rec.log();
    const qsizetype put = log.indexOf(QStringLiteral("Put Upgrade File >>") + list[1].path);
    const qsizetype end = log.indexOf(QStringLiteral("Send end char"));
    const qsizetype sent = log.indexOf(QStringLiteral("Send Bin File Length : 5008"));
    const qsizetype ignored =
        log.indexOf(QStringLiteral("Default Upgrade File Ignore >>") + list[2].path);
    EXPECT_TRUE(put >= 0 && put < end && end < sent && sent < ignored)
        << log.join('\n').toStdString();
    EXPECT_EQ(log.mid(log.size() - 2),
              (QStringList{QStringLiteral("Total upgrade file count in HTTP mode: 1"),
                           QStringLiteral("Upgrade success in New version")}));
    EXPECT_EQ(rec.status(),
              (QStringList{QStringLiteral("Connecting to router"),
                           QStringLiteral("Upgrading! Do NOT exit or power off the device."),
                           QStringLiteral("Upgrade Success")}));
    EXPECT_EQ(rec.maximum, 5000);
}

TEST_F(UploadTest, FilesGoBackToBackWithTheMarkerAfterTheLast) {
    const QByteArray a = add(QStringLiteral("generic.bin.tmp"), kFallback, 2000);
    const QByteArray b = add(QStringLiteral("ABC123.bin.tmp"), kSpecific, 3000);
    // Larger than the stream buffer, so it goes out in several sends.
    const QByteArray c = add(QStringLiteral("big.bin.tmp"), kDefault,
                             qsizetype(HttpEngine::StreamChunkSize * 2 + 12345));
    EXPECT_EQ(upload(QStringLiteral("ABC")), 1);
    const qint64 total = a.size() + b.size() + c.size();
    EXPECT_EQ(wire(), requestHeader(total + 147) + kPartHeader + a + b + c + kEndMarker);
    EXPECT_EQ(server.lastUploadBodySize(), total + 147);
    EXPECT_EQ(sections, QStringLiteral("AB"));
    EXPECT_EQ(filesSent, 3);
    EXPECT_EQ(rec.log().count(QStringLiteral("Send end char")), 1);
    EXPECT_TRUE(rec.log().contains(QStringLiteral("Send Bin File Length : 2000")));
    EXPECT_TRUE(rec.log().contains(QStringLiteral("Send Bin File Length : ") +
                                   QString::number(c.size() + 8)));
    // The bar counts the header and the marker too.
    EXPECT_EQ(rec.position, requestHeader(total + 147).size() + 139 + total + 8);
    EXPECT_GE(rec.advances, 5);
}

TEST_F(UploadTest, NothingToSendFailsAfterTheHeader) {
    add(QStringLiteral("rescue.bin.tmp"), 0x0809, 10);
    EXPECT_EQ(upload(), -1);
    EXPECT_EQ(resultText, QStringLiteral("HTTP upgrade Failure !"));
    EXPECT_TRUE(rec.log().contains(QStringLiteral("Upgrade File Length : 0")));
}

TEST_F(UploadTest, UnreadableFileFailsBeforeTheHeader) {
    list.append(dir.filePath(QStringLiteral("gone.bin.tmp")), kDefault, 1);
    EXPECT_EQ(upload(), -1);
    EXPECT_EQ(resultText,
              QStringLiteral("File Seek error : ") + dir.filePath(QStringLiteral("gone.bin.tmp")));
    EXPECT_EQ(rec.log().constLast(), resultText);
    EXPECT_EQ(server.requestCount(), 0);
}

TEST_F(UploadTest, UnreachableRouter) {
    quint16 closed = 0;
    {
        WebServer probe;
        ASSERT_TRUE(probe.start(kLoopback, 0));
        closed = probe.port();
    }
    add(QStringLiteral("fw.bin.tmp"), kDefault, 10);
    HttpEngine e;
    EXPECT_EQ(e.UploadFirmware(stop, rec.sinks(), list, kLoopback, closed, QString()), -1);
    const QString text = QStringLiteral("Failed to connect socket to IP : 127.0.0.1 and port : ") +
                         QString::number(closed);
    EXPECT_EQ(e.resultText, text);
    EXPECT_EQ(rec.log(), QStringList{text});
    EXPECT_EQ(rec.status(), QStringList{QStringLiteral("Connect to router failure")});
    EXPECT_EQ(stop, 7);
}

TEST_F(UploadTest, MessageFilesAreShownOnTheWay) {
    MessageRecord m;
    m.caption = "Do not power off";
    m.text = "text";
    {
        QFile f(dir.filePath(QStringLiteral("warn.msg")));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(m.serialize());
        list.append(f.fileName(), 0x0401, 1);
    }
    const QByteArray fw = add(QStringLiteral("fw.bin.tmp"), kDefault, 64);
    EXPECT_EQ(upload(), 1);
    EXPECT_EQ(rec.messages(), QStringList{QStringLiteral("Do not power off")});
    EXPECT_EQ(wire(), requestHeader(64 + 147) + kPartHeader + fw + kEndMarker);
}

TEST_F(UploadTest, AnswerClasses) {
    add(QStringLiteral("fw.bin.tmp"), kDefault, 32);
    struct Case {
        const char* options;
        int result;
        const char* text;
        const char* log;
        const char* status; // nullptr: the status line is not changed
    };
    const Case cases[] = {
        {"upg=cas:8001", -1, "Upgrade failure", "Upgrade failure in New version",
         "Upgrade failure"},
        {"upg=cas:8002", -1, "Unallowable upgrade file", "Unallowable upgrade file",
         "Unallowable upgrade file"},
        {"upg=cas:12", -1, "unknow error code 12</", "unknow error code : 12</", "Upgrade failure"},
        {"upg=alert:Firmware too old", -1, "Firmware too old", "Upgrade failure with no CAS tag",
         "Upgrade Failure"},
        {"upg=alert:This image belongs to another model", -1, "This image belongs to a",
         "Upgrade failure with no CAS tag", "Upgrade Failure"},
        {"upg=ok", 1, "Upgrade Successfully", "Upgrade Complete in with no CAS tag",
         "Upgrade Success"},
        {"upg=status:301", -1, "Unexpect receive data", "Unexpect remove port request", nullptr},
        {"upg=status:400", -1, "Unexpect receive data", "Unexpect Bad request", nullptr},
        {"upg=status:404", -1, "Unexpect receive data", "Unexpect NO CGI Found", nullptr},
        {"upg=status:401", -1, "Unexpect receive data", "Peer ask for authenticate 2", nullptr},
        {"upg=status:501", -1, "Unexpect receive data", "Unexpect NOT support HTTP Upgrade",
         nullptr},
        {"upg=status:503", -1, "Unexpect receive data", "Unexpect upgrade Not Complete error",
         nullptr},
        {"upg=status:500", -1, "Unexpect receive data", "Unknow Error in check upgrade result",
         nullptr},
        // The reply buffer holds 1463 bytes; one more is a receive failure.
        {"upg=cas:8000,upgsize=1463", 1, "Upgrade Successfully", "Upgrade success in New version",
         "Upgrade Success"},
        {"upg=cas:8000,upgsize=1464", -1, "receive response error in upgrade 9",
         "receive response error 8", "Upgrade Failure"},
    };
    for (const Case& c : cases) {
        answer(QString::fromLatin1(c.options));
        RecordingSinks r;
        HttpEngine e;
        EXPECT_EQ(e.UploadFirmware(stop, r.sinks(), list, kLoopback, server.port(), QString()),
                  c.result)
            << c.options;
        EXPECT_EQ(e.resultText, QString::fromLatin1(c.text)) << c.options;
        EXPECT_EQ(r.log().constLast(), QString::fromLatin1(c.log)) << c.options;
        const QString expectedStatus =
            c.status ? QString::fromLatin1(c.status)
                     : QStringLiteral("Upgrading! Do NOT exit or power off the device.");
        EXPECT_EQ(r.status().constLast(), expectedStatus) << c.options;
        const bool badRequest = QByteArray(c.options) == "upg=status:400";
        ASSERT_EQ(r.boxes().size(), badRequest ? 1 : 0) << c.options;
        if (badRequest) {
            EXPECT_EQ(r.boxes()[0].text, QStringLiteral("error 00"));
            EXPECT_EQ(r.boxes()[0].caption, QStringLiteral("File Error"));
            EXPECT_EQ(r.boxes()[0].buttons, BoxButtons::OkCancel);
        }
    }
}

TEST_F(UploadTest, SilentRouterEndsAsAReceiveFailure) {
    add(QStringLiteral("fw.bin.tmp"), kDefault, 32);
    answer(QStringLiteral("upg=silent"));
    HttpEngine e;
    e.setTransferTimeout(std::chrono::milliseconds(300));
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(e.UploadFirmware(stop, rec.sinks(), list, kLoopback, server.port(), QString()), -1);
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(8));
    EXPECT_EQ(e.resultText, QStringLiteral("receive response error in upgrade 9"));
    EXPECT_EQ(rec.log().constLast(), QStringLiteral("receive response error 8"));
    EXPECT_EQ(stop, 0); // the file itself went out
}

TEST_F(UploadTest, UnopenableMessageFileEndsTheUpload) {
    list.append(dir.filePath(QStringLiteral("gone.msg")), 0x0401, 1);
    add(QStringLiteral("fw.bin.tmp"), kDefault, 16);
    EXPECT_EQ(upload(), -1);
    EXPECT_EQ(resultText, QStringLiteral("Open upgrade file error !"));
    EXPECT_TRUE(rec.log().contains(QStringLiteral("Message file onen error : ") +
                                   dir.filePath(QStringLiteral("gone.msg"))));
}

TEST(EngineExchangeTest, ConnectAndSendThenReceive) {
    ScriptedPeer peer({{"HTTP/1.1 200 OK\r\n\r\nhello"}});
    HttpEngine e;
    EXPECT_EQ(e.ConnectAndSend("GET / HTTP/1.1\r\n\r\n", kLoopback, peer.port()), 1);
    QByteArray reply;
    EXPECT_EQ(e.ReceiveResponse(reply, 100), 24);
    EXPECT_EQ(reply, QByteArray("HTTP/1.1 200 OK\r\n\r\nhello"));
    EXPECT_EQ(e.ReceiveResponse(reply, 100), -1);
    EXPECT_EQ(e.resultText, QStringLiteral("Read Data error!"));
    EXPECT_EQ(peer.finish(), QByteArray("GET / HTTP/1.1\r\n\r\n"));
    EXPECT_EQ(e.ConnectAndSend("x", QStringLiteral("not-an-address"), 80), -1);
    EXPECT_EQ(e.resultText,
              QStringLiteral("Failed to connect socket to IP : not-an-address and port : 80"));
}
