// The FTP upgrade engine against the in-process FTP server: the files chosen and stored
// byte-exact under their names, message files on the way, the section letters, and every
// failure with its result code, result text, log line and status line.

#include "ftp/FtpUpgradeEngine.h"
#include "ftp_test_support.h"
#include "message/MessageRecord.h"
#include "socket_test_support.h"
#include "transfer/FileAttributes.h"

using namespace fw;
using namespace fw::test;
using routersim::FtpServer;

namespace {

constexpr quint16 kSpecific1 = 0x0816; // upgrade, section 1, normal, ROM id
constexpr quint16 kFallback = 0x0807;  // upgrade, normal, default + ROM id
constexpr quint16 kPlain2 = 0x0825;    // upgrade, section 2, normal, default
constexpr quint16 kNoNormal = 0x0809;  // upgrade, TFTP, default

class FtpUpgradeTest : public ::testing::Test {
protected:
    QTemporaryDir dir;
    ExtractionList list;
    RecordingSinks rec;
    StopCounter counter{7};
    std::unique_ptr<FtpServer> server;
    std::unique_ptr<FtpUpgradeEngine> form;

    void SetUp() override { list.append(dir.filePath(QStringLiteral("self.exe.tmp")), 0, 0); }

    QString add(const QString& name, quint16 attribute, const QByteArray& bytes) {
        const QString path = writeFile(dir, name, bytes);
        list.append(path, attribute, 1);
        return path;
    }
    void serve(const QString& options = {}) {
        server = startFtpServer(options);
        ASSERT_TRUE(server);
        form = std::make_unique<FtpUpgradeEngine>(server->port());
        form->client().ReplyWaitLimit = 2s;
    }
    int run(const QString& password = QStringLiteral("admin"),
            const QString& romId = QStringLiteral("ABC123")) {
        return form->FtpUpgrade(counter, rec.sinks(), list, QStringLiteral("127.0.0.1"), romId, 1,
                                password);
    }
    QList<QByteArray> verbs() const {
        QList<QByteArray> out;
        for (const QByteArray& c : server->commands())
            out << c.left(c.indexOf(' ') < 0 ? c.size() : c.indexOf(' '));
        return out;
    }
};

} // namespace

TEST_F(FtpUpgradeTest, ChosenFilesAreStoredByteExactUnderTheirNames) {
    serve();
    const QByteArray a = patternBytes(150000, 1);
    const QByteArray b = patternBytes(70001, 2);
    add(QStringLiteral("ABC123_main.bin.tmp"), kSpecific1, a);
    const QString skipped = add(QStringLiteral("generic.bin.tmp"), kFallback, "never sent");
    add(QStringLiteral("boot.img"), kPlain2, b); // kept name: no ".tmp" to drop
    add(QStringLiteral("tftp-only.bin.tmp"), kNoNormal, "tftp");

    EXPECT_EQ(run(), 1);
    EXPECT_EQ(form->resultText(), QStringLiteral("Upgrade Successfully !"));
    EXPECT_EQ(form->sentSections(), QStringLiteral("AB"));
    EXPECT_EQ(form->filesSent, 2);
    EXPECT_EQ(counter.load(), 0);

    const auto stored = server->storedFiles();
    ASSERT_EQ(stored.size(), 2);
    EXPECT_EQ(stored[0].name, "ABC123_main.bin");
    EXPECT_TRUE(stored[0].bytes == a);
    EXPECT_EQ(stored[1].name, "boot.img");
    EXPECT_TRUE(stored[1].bytes == b);
    ASSERT_TRUE(server->waitForClosed(1, 5s));
    EXPECT_EQ(verbs(), (QList<QByteArray>{"USER", "PASS", "PORT", "STOR", "PORT", "STOR", "QUIT"}));
    EXPECT_EQ(server->commands()[0], "USER root");
    EXPECT_EQ(server->commands()[1], "PASS admin");

    const QStringList log = rec.log();
    EXPECT_EQ(log.first(), QStringLiteral("Upgrade File Length : 220001"));
    EXPECT_GE(log.indexOf(QStringLiteral("Default Upgrade File Ignore >>") + skipped), 0);
    EXPECT_EQ(log.last(), QStringLiteral("Total upgrade file count in FTP mode: 2"));
    const QStringList status = rec.status();
    EXPECT_EQ(status.first(), QStringLiteral("Connecting to device"));
    EXPECT_TRUE(status.contains(QStringLiteral("Upgrading! Do NOT exit or power off the device.")));
    EXPECT_EQ(status.last(), QStringLiteral("Upgrade Successfully"));
    EXPECT_EQ(rec.maximum.load(), 220001);
    EXPECT_EQ(rec.position.load(), 220001 / 32 + 220001);
}

TEST_F(FtpUpgradeTest, MessageFilesAreShownInFtpModeOnTheWay) {
    serve();
    MessageRecord m;
    m.name = "note";
    m.caption = "Before the upgrade";
    m.text = "Keep the router on.";
    const QString msg =
        add(QStringLiteral("note.msg.tmp"), AttrMessageFile | AttrDefault, m.serialize());
    add(QStringLiteral("fw.bin.tmp"), kPlain2, "firmware");
    EXPECT_EQ(run(), 1);
    EXPECT_EQ(rec.messages(), QStringList{QStringLiteral("Before the upgrade")});
    EXPECT_GE(rec.indexOf(QStringLiteral("Show Message to User : ") + msg), 0);
    ASSERT_EQ(server->storedFiles().size(), 1);
    EXPECT_EQ(server->storedFiles()[0].name, "fw.bin");
}

TEST_F(FtpUpgradeTest, UnreadableMessageFileEndsTheUpgrade) {
    serve();
    const QString missing = dir.filePath(QStringLiteral("gone.msg.tmp"));
    list.append(missing, AttrMessageFile | AttrDefault, 1);
    add(QStringLiteral("fw.bin.tmp"), kPlain2, "firmware");
    EXPECT_EQ(run(), -1);
    EXPECT_EQ(form->resultText(), QStringLiteral("Message file onen error : ") + missing);
    EXPECT_GE(rec.indexOf(QStringLiteral("Message file onen error : ") + missing), 0);
    EXPECT_TRUE(server->storedFiles().isEmpty());
}

TEST_F(FtpUpgradeTest, WrongPasswordIsMinusTwo) {
    serve(QStringLiteral("password=right"));
    add(QStringLiteral("fw.bin.tmp"), kPlain2, "firmware");
    EXPECT_EQ(run(QStringLiteral("wrong")), -2);
    const QString text = QStringLiteral("Incorrect password. Please check and input again!");
    EXPECT_EQ(form->resultText(), text);
    EXPECT_EQ(rec.log().last(), QStringLiteral("Password Error"));
    EXPECT_EQ(rec.status(), QStringList{text}); // no "Connecting to device"
    EXPECT_FALSE(form->client().Connected());
    EXPECT_TRUE(server->storedFiles().isEmpty());
}

TEST_F(FtpUpgradeTest, RefusedStoreIsAnUpgradeFileError) {
    serve(QStringLiteral("stor=550"));
    add(QStringLiteral("fw.bin.tmp"), kPlain2, "firmware");
    EXPECT_EQ(run(), -4);
    EXPECT_EQ(form->resultText(), QStringLiteral("Upgrade File Error"));
    EXPECT_EQ(rec.status().last(), QStringLiteral("Please ReSelect Upgrade File Again."));
    EXPECT_EQ(rec.log().last(), QStringLiteral("Upgrade File Error"));
    EXPECT_FALSE(form->client().Connected());
}

TEST_F(FtpUpgradeTest, RejectedFileCountsThenEndsTheUpgrade) {
    serve(QStringLiteral("storreply=429"));
    add(QStringLiteral("a.bin.tmp"), kSpecific1, "first");
    add(QStringLiteral("b.bin.tmp"), kPlain2, "second");
    EXPECT_EQ(run(QStringLiteral("admin"), {}), -1);
    EXPECT_EQ(form->resultText(), QStringLiteral("Incorrect upgrade file. Please check again!"));
    EXPECT_EQ(form->filesSent, 1);
    EXPECT_GE(rec.indexOf(QStringLiteral("Upgrade file error")), 0);
    EXPECT_EQ(server->storedFiles().size(), 1);
    ASSERT_TRUE(server->waitForClosed(1, 5s));
    EXPECT_EQ(server->commands().last(), "QUIT");
}

TEST_F(FtpUpgradeTest, OtherRefusalDuringATransferLeavesTheConnectionOpen) {
    serve(QStringLiteral("stor=451"));
    add(QStringLiteral("fw.bin.tmp"), kPlain2, "firmware");
    EXPECT_EQ(run(), -1);
    const QString line = QStringLiteral("451 Refused by routersim\r\n");
    EXPECT_EQ(form->resultText(), QStringLiteral("Unknow exception :") + line);
    EXPECT_EQ(rec.log().last(), QStringLiteral("Unknow error1 in FTP mode:") + line);
    EXPECT_TRUE(form->client().Connected());
    // The next use goes on with the same logged-in connection.
    server->setConfig({});
    EXPECT_EQ(run(), 1);
    EXPECT_EQ(server->connectionCount(), 1);
    EXPECT_EQ(server->commands().mid(0, 2), (QList<QByteArray>{"USER root", "PASS admin"}));
    EXPECT_EQ(server->commands().count("USER root"), 1);
}

TEST_F(FtpUpgradeTest, StalledServerEndsAtTheReplyBound) {
    serve(QStringLiteral("stall=STOR"));
    form->client().ReplyWaitLimit = 500ms;
    add(QStringLiteral("fw.bin.tmp"), kPlain2, "firmware");
    EXPECT_EQ(run(), -1);
    const QString bound = QStringLiteral("FTP reply not complete within 0.5 s; connection closed");
    EXPECT_EQ(form->resultText(), QStringLiteral("Unknow exception :") + bound);
    const QStringList log = rec.log();
    ASSERT_GE(log.size(), 2);
    EXPECT_EQ(log[log.size() - 2], bound);
    EXPECT_FALSE(form->client().Connected());
}

TEST_F(FtpUpgradeTest, HangUpAfterTheWholeFileIsAcceptanceBeforeItAFailure) {
    serve(QStringLiteral("noreply=STOR"));
    const QByteArray bytes = patternBytes(200000, 3);
    add(QStringLiteral("fw.bin.tmp"), kPlain2, bytes);
    EXPECT_EQ(run(), 1);
    EXPECT_EQ(form->resultText(), QStringLiteral("Upgrade Successfully !"));
    ASSERT_EQ(server->storedFiles().size(), 1);
    EXPECT_TRUE(server->storedFiles()[0].bytes == bytes);
    EXPECT_EQ(rec.log().filter(QStringLiteral("No reply after")),
              QStringList{QStringLiteral("No reply after fw.bin: the router hung up after "
                                         "taking the whole file; counted as accepted")});

    serve(QStringLiteral("storcut=50000"));
    EXPECT_EQ(run(), -1);
    EXPECT_TRUE(form->resultText().startsWith(QStringLiteral("Unknow exception :10")))
        << form->resultText().toStdString();
}

TEST_F(FtpUpgradeTest, NoConnectionIsMinusOneWithTheSocketError) {
    ftpTestApp();
    quint16 port = 0;
    const int holder = closedPort(&port);
    form = std::make_unique<FtpUpgradeEngine>(port);
    add(QStringLiteral("fw.bin.tmp"), kPlain2, "firmware");
    EXPECT_EQ(run(), -1);
    ::close(holder);
    EXPECT_EQ(form->resultText(), QStringLiteral("Unknow exception2Connection Failed"));
    const QStringList log = rec.log();
    EXPECT_GE(log.indexOf(QStringLiteral("Error 10061: 10061:Connection refused")), 0);
    EXPECT_EQ(log.last(), QStringLiteral("Unknow error2 in FTP mode.Connection Failed"));
}

TEST_F(FtpUpgradeTest, NothingToSendAndUnreadableFilesNeverStore) {
    serve();
    add(QStringLiteral("tftp.bin.tmp"), kNoNormal, "tftp");
    EXPECT_EQ(run(), -1);
    EXPECT_EQ(form->resultText(), QStringLiteral("FTP upgrade Failure !"));
    EXPECT_EQ(rec.log().last(), QStringLiteral("Get error file index in FTP mode"));
    EXPECT_EQ(server->connectionCount(), 1);

    // A size that cannot be read: no connection at all.
    list.append(dir.filePath(QStringLiteral("missing.bin.tmp")), kPlain2, 1);
    EXPECT_EQ(run(), -1);
    EXPECT_EQ(form->resultText(), QStringLiteral("Get total upgrade fle length error"));
    EXPECT_EQ(rec.log().last(), QStringLiteral("Get total upgrade fle length error"));
    EXPECT_EQ(server->connectionCount(), 1);
    EXPECT_TRUE(server->storedFiles().isEmpty());
}

TEST_F(FtpUpgradeTest, ServerHangingUpInsteadOfAnsweringIsASocketError) {
    serve(QStringLiteral("close=PORT"));
    add(QStringLiteral("fw.bin.tmp"), kPlain2, "firmware");
    EXPECT_EQ(run(), -1);
    EXPECT_EQ(form->resultText(),
              QStringLiteral("Unknow exception :10057:Socket is not connected"));
    EXPECT_GE(rec.indexOf(QStringLiteral("Error 10057: 10057:Socket is not connected")), 0);
    // The closed connection is noticed: the next upgrade logs in afresh.
    server->setConfig({});
    EXPECT_EQ(run(), 1);
    EXPECT_EQ(server->connectionCount(), 2);
}

TEST_F(FtpUpgradeTest, ConnectionLostBetweenFiles) {
    serve(QStringLiteral("closeafter=1"));
    add(QStringLiteral("a.bin.tmp"), kSpecific1, "first");
    add(QStringLiteral("b.bin.tmp"), kPlain2, "second");
    ASSERT_TRUE(server);
    // The server's close must have arrived before the loop looks.
    form->client().OnSuccess = [this](TFtpClient&) { server->waitForClosed(1, 5s); };
    EXPECT_EQ(run(QStringLiteral("admin"), {}), -1);
    EXPECT_EQ(form->resultText(), QStringLiteral("FTP connect failure in upgrading !"));
    EXPECT_EQ(form->filesSent, 1);
    EXPECT_EQ(server->storedFiles().size(), 1);
}
