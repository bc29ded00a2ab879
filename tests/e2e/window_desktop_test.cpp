// The packed program on a real X display (Xvfb with openbox) inside the test's private network
// namespace, driven by a person's keys and clicks through xdotool: an address the broadcast did
// not find is typed, Enter probes and lists it, Upgrade starts its FTP upload, and closing the
// window during the upload, confirmed, ends the program with status 1 at once, with no box after
// the confirmation and nothing left in its temporary directory.

#include "support/Desktop.h"
#include "support/HeadlessProgram.h"
#include "support/NetNamespace.h"

#include <gtest/gtest.h>

#include <functional>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QThread>

using namespace fw::test;

namespace {

const QString Listed = QStringLiteral("192.168.123.254"); // answers the broadcast
const QString Typed = QStringLiteral("192.168.77.7");     // answers the echo and FTP only
const QString MainTitle = QStringLiteral("^Firmware Upgrade  V1\\.1\\.1$");
constexpr std::chrono::milliseconds Poll{50};
constexpr std::chrono::seconds SearchBound{20};
constexpr std::chrono::seconds StepBound{10};
// Closing, once confirmed, must not wait for the upload.
constexpr std::chrono::seconds CloseBound{5};
constexpr int Files = 6;

bool waitFor(const std::function<bool()>& done, std::chrono::milliseconds bound) {
    QDeadlineTimer deadline(bound);
    do {
        if (done())
            return true;
        QThread::msleep(Poll.count());
    } while (!deadline.hasExpired());
    return false;
}

QByteArray readAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace

TEST(WindowDesktop, TypedRouterIsProbedListedAndCloseDuringUploadEndsAtOnce) {
    FW_REQUIRE_NETNS();
    const QStringList missing = Desktop::missingTools();
    if (!missing.isEmpty()) {
        if (NetNamespace::mustRun())
            GTEST_FAIL() << "desktop tools required (CI=true): " << missing.join(u' ').toStdString();
        GTEST_SKIP() << "desktop tools missing, test skipped: " << missing.join(u' ').toStdString();
    }
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    ASSERT_EQ(NetNamespace::addAddress(Listed).toStdString(), "");
    ASSERT_EQ(NetNamespace::addAddress(Typed).toStdString(), "");

    Desktop desktop;
    QString error;
    ASSERT_TRUE(desktop.start(&error)) << error.toStdString();

    // Each STOR waits a little for its answer, so the upload lasts a few seconds.
    const QString ftpTranscript = dir.filePath(QStringLiteral("ftp.txt"));
    SimProcess sim({QStringLiteral("--router"), Listed + QStringLiteral(",state=normal"),
                    QStringLiteral("--router"), Typed + QStringLiteral(",answers=none"),
                    QStringLiteral("--ftp"), QStringLiteral("--ftp-options"),
                    Typed + QStringLiteral(":password=qelur,delay=STOR:700,transcript=") +
                        ftpTranscript});
    ASSERT_TRUE(sim.start(&error)) << error.toStdString();

    QStringList files;
    for (int i = 0; i < Files; ++i) {
        const QString path = dir.filePath(QStringLiteral("part%1.bin").arg(i));
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(QByteArray(100000, char('a' + i)));
        files << path + QStringLiteral(":upgrade,normal,default");
    }
    const QString packed = packProgram(dir.path(), files, std::nullopt);
    const QString tmp = dir.filePath(QStringLiteral("tmp"));
    ASSERT_TRUE(QDir().mkpath(tmp));

    QProcess program;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("FWUPGRADE_HEADLESS"));
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    env.insert(QStringLiteral("DISPLAY"), desktop.display());
    env.insert(QStringLiteral("TMPDIR"), tmp);
    // Qt would put its own runtime folder under TMPDIR.
    const QString runtime = dir.filePath(QStringLiteral("runtime"));
    ASSERT_TRUE(QDir().mkpath(runtime));
    QFile::setPermissions(runtime, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime);
    program.setProcessEnvironment(env);
    program.setProcessChannelMode(QProcess::MergedChannels);
    program.start(packed, {});
    ASSERT_TRUE(program.waitForStarted());
    const auto cleanup = qScopeGuard([&] {
        if (program.state() != QProcess::NotRunning) {
            program.kill();
            program.waitForFinished();
        }
    });

    // The start-up search runs in its window; afterwards the router field has the focus.
    const QString main = desktop.waitForWindow(MainTitle, StepBound);
    ASSERT_FALSE(main.isEmpty()) << program.readAll().toStdString();
    ASSERT_TRUE(waitFor(
        [&] { return desktop.windows(QStringLiteral("^Searching for installed")).isEmpty(); },
        SearchBound));
    desktop.xdotool({QStringLiteral("windowactivate"), QStringLiteral("--sync"), main});

    desktop.xdotool({QStringLiteral("key"), QStringLiteral("--clearmodifiers"),
                     QStringLiteral("ctrl+a")});
    desktop.xdotool({QStringLiteral("type"), QStringLiteral("--delay"), QStringLiteral("20"), Typed});
    desktop.xdotool({QStringLiteral("key"), QStringLiteral("KP_Enter")});
    // Probed: the query probe went to the typed address itself, and the address-only step
    // ended with its echo.
    const auto transcriptHas = [&](const QString& protocol, const QString& to) {
        for (const QString& line : sim.transcriptLines())
            if (line.startsWith(protocol) && line.contains(to))
                return true;
        return false;
    };
    EXPECT_TRUE(waitFor([&] { return transcriptHas(QStringLiteral("udp"), Typed + QStringLiteral(":9 ")); },
                        StepBound))
        << "no probe to " << Typed.toStdString();
    ASSERT_TRUE(waitFor([&] { return transcriptHas(QStringLiteral("icmp"), Typed); }, StepBound));
    QThread::msleep(300);
    desktop.keepScreen(QStringLiteral("typed"));

    // Listed: with the password typed, Upgrade finds the router (else "Router information not
    // found") and uploads by FTP. The password group is shown (the program's own settings
    // release it to the user); clicks at client coordinates of that layout.
    const auto click = [&](int x, int y) {
        desktop.xdotool({QStringLiteral("mousemove"), QStringLiteral("--window"), main,
                         QString::number(x), QString::number(y), QStringLiteral("click"),
                         QStringLiteral("1")});
    };
    click(174, 79);
    desktop.xdotool({QStringLiteral("type"), QStringLiteral("--delay"), QStringLiteral("20"),
                     QStringLiteral("qelur")});
    click(109, 119);
    const bool uploading =
        waitFor([&] { return readAll(ftpTranscript).contains("STOR "); }, StepBound);
    desktop.keepScreen(QStringLiteral("upgrade"));
    ASSERT_TRUE(uploading) << "no upload started: " << program.readAll().toStdString();
    EXPECT_TRUE(desktop.windows(QStringLiteral("^Router information not found$")).isEmpty());

    // The title bar's close (Alt+F4 through the window manager), then OK in the question.
    desktop.xdotool({QStringLiteral("key"), QStringLiteral("alt+F4")});
    const QString question = desktop.waitForWindow(QStringLiteral("^Upgrade Warning$"), StepBound);
    ASSERT_FALSE(question.isEmpty());
    ASSERT_FALSE(readAll(ftpTranscript).contains("QUIT")) << "the upload ended before the close";
    desktop.keepScreen(QStringLiteral("question"));
    desktop.xdotool({QStringLiteral("key"), QStringLiteral("Return")});
    QElapsedTimer sinceConfirm;
    sinceConfirm.start();

    QStringList seen, boxesAfter;
    const bool ended = waitFor(
        [&] {
            for (const QString& w : desktop.visibleWindows()) {
                if (w == main || w == question || seen.contains(w))
                    continue;
                seen << w;
                boxesAfter << desktop.windowName(w);
            }
            return program.waitForFinished(0) || program.state() == QProcess::NotRunning;
        },
        CloseBound);
    ASSERT_TRUE(ended) << "still running " << sinceConfirm.elapsed() << " ms after the confirmation";
    EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(program.exitCode(), 1) << program.readAll().toStdString();
    EXPECT_TRUE(boxesAfter.isEmpty()) << boxesAfter.join(u';').toStdString();
    EXPECT_EQ(QDir(tmp).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
              QStringList());
    // Fewer than all files reached the router: the upload was really stopped.
    EXPECT_LT(readAll(ftpTranscript).count("STOR "), Files);
}

FW_NETNS_TEST_MAIN(QCoreApplication)
