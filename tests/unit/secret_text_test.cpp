// Passwords in presented texts, the password line on standard input and fwfleet's file check.

#include "RoutersFileMode.h"
#include "http/LoginCheck.h"
#include "process/PasswordInput.h"
#include "ui/JsonLines.h"
#include "ui/SecretText.h"

#include <gtest/gtest.h>

#include <QJsonArray>
#include <QTemporaryFile>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace fw;
using namespace std::chrono_literals;

namespace {

class Secrets : public ::testing::Test {
protected:
    void SetUp() override { forgetSecrets(); }
    void TearDown() override { forgetSecrets(); }
};

} // namespace

TEST_F(Secrets, EveryPresentedFormShowsEightStars) {
    registerSecret(QStringLiteral("hunter22"));
    registerSecret(QStringLiteral("pw")); // too short to look for inside other texts
    registerSecret(QStringLiteral("grüße99"));
    EXPECT_EQ(maskSecrets(QStringLiteral("530 hunter22 refused; hunter22 again; pw")),
              QStringLiteral("530 ******** refused; ******** again; pw"));
    // A router's echo of the UTF-8 bytes, read as Latin-1.
    EXPECT_EQ(maskSecrets(QString::fromLatin1(QByteArray("PSW=grüße99&"))),
              QStringLiteral("PSW=********&"));
    EXPECT_EQ(shownText(QStringLiteral("a\nhunter22")), QStringLiteral("a\\x0a********"));
    EXPECT_EQ(maskedSecret(QStringLiteral("x")), QStringLiteral("********"));
    EXPECT_EQ(maskedSecret(QString()), QString());

    // JSON Lines: every text, nested ones too; keys and numbers as they are.
    QByteArray out;
    JsonLines lines([&](const QByteArray& l) { out += l; });
    lines.write(QStringLiteral("box"),
                {{QStringLiteral("text"), QStringLiteral("hunter22")},
                 {QStringLiteral("files"), QJsonArray{QJsonObject{{"name", "x-hunter22"}}}},
                 {QStringLiteral("bytes"), 22}});
    EXPECT_TRUE(out.contains(R"("text":"********")")) << out.toStdString();
    EXPECT_TRUE(out.contains(R"([{"name":"x-********"}])")) << out.toStdString();
    EXPECT_TRUE(out.contains(R"("bytes":22)")) << out.toStdString();
    EXPECT_FALSE(out.contains("hunter22"));

    // The Basic credentials are known before the request goes (here to a closed port).
    LoginContext ctx;
    ctx.webPort = 1;
    ctx.idle = [] {};
    BasicAuthLogin(ctx, QStringLiteral("admin"), QStringLiteral("s3cret-b"),
                   QStringLiteral("127.0.0.1"));
    const QString base64 = QString::fromLatin1(QByteArray("admin:s3cret-b").toBase64());
    EXPECT_EQ(maskSecrets(QStringLiteral("Authorization: Basic ") + base64),
              QStringLiteral("Authorization: Basic ********"));
}

TEST(PasswordInput, FirstLineWithoutItsEndOrNothing) {
    struct Case {
        QByteArray input;
        bool closed;
        std::optional<QByteArray> line;
    };
    const Case cases[] = {
        {"pass word\r\nnext\n", true, "pass word"},
        {"\nnext", true, ""},
        {"no line end", true, "no line end"},
        {"", true, std::nullopt},
        {"half", false, std::nullopt}, // no line end before the deadline
        {QByteArray(MaxPasswordLineBytes + 1, 'x') + '\n', true, std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.input.left(20).toStdString());
        int fds[2];
        ASSERT_EQ(::pipe(fds), 0);
        ASSERT_EQ(::write(fds[1], c.input.constData(), size_t(c.input.size())),
                  ssize_t(c.input.size()));
        if (c.closed)
            ::close(fds[1]);
        EXPECT_EQ(readPasswordLine(fds[0], 200ms), c.line);
        ::close(fds[0]);
        if (!c.closed)
            ::close(fds[1]);
    }
}

TEST(FleetRoutersFile, ReadableByOthersIsWarnedAbout) {
    QTemporaryFile f;
    ASSERT_TRUE(f.open());
    ASSERT_EQ(::fchmod(f.handle(), 0640), 0);
    EXPECT_EQ(fleet::routersFileModeWarning(f.handle(), QStringLiteral("my %2 routers")),
              QStringLiteral("fwfleet: my %2 routers is readable by other users (mode 0640); "
                             "chmod 600 my %2 routers"));
    ASSERT_EQ(::fchmod(f.handle(), 0600), 0);
    EXPECT_EQ(fleet::routersFileModeWarning(f.handle(), QStringLiteral("r")), QString());
}
