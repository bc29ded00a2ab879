// The packed program on a real X display (Xvfb with openbox) inside the test's private network
// namespace, driven by a person's keys and clicks through xdotool: an address the broadcast did
// not find is typed, Enter probes and lists it, Return in the password field starts its FTP
// upload, and closing the window during the upload, confirmed, ends the program with status 1
// at once, with no box after the confirmation and nothing left in its temporary directory.
// A refused password leaves the focus in the password field; the System Log shows its newest
// line unless the person scrolled up; a second copy does not upgrade a router the first is
// upgrading.

#include "support/Desktop.h"
#include "support/HeadlessProgram.h"
#include "support/NetNamespace.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <list>
#include <map>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>

using namespace fw::test;

namespace {

const QString Listed = QStringLiteral("192.168.123.254"); // answers the broadcast
const QString Typed = QStringLiteral("192.168.77.7");     // answers the echo and FTP only
const QString MainTitle = QStringLiteral("^Firmware Upgrade  V1\\.1\\.1$");
const QString Password = QStringLiteral("qelur");
constexpr std::chrono::milliseconds Poll{50};
constexpr std::chrono::seconds SearchBound{20};
constexpr std::chrono::seconds StepBound{10};
// Closing, once confirmed, must not wait for the upload.
constexpr std::chrono::seconds CloseBound{5};
constexpr int Files = 6;
// The System Log's scroll bar in the window (client pixels): the column through its middle and
// rows just inside both ends of its groove, between the arrows, in the layout the typed router
// gets.
constexpr int LogBarX = 322;
constexpr int LogBarTop = 198;
constexpr int LogBarBottom = 263;

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

class WindowDesktop : public ::testing::Test {
protected:
    QTemporaryDir dir;
    Desktop desktop;
    std::unique_ptr<SimProcess> sim;
    QString ftpTranscript, packed, tmp, runtime;
    std::list<QProcess> programs;

    void SetUp() override {
        FW_REQUIRE_NETNS();
        const QStringList missing = Desktop::missingTools();
        if (!missing.isEmpty()) {
            if (NetNamespace::mustRun())
                GTEST_FAIL() << "desktop tools required (CI=true): "
                             << missing.join(u' ').toStdString();
            GTEST_SKIP() << "desktop tools missing, test skipped: "
                         << missing.join(u' ').toStdString();
        }
        ASSERT_TRUE(dir.isValid());
        ASSERT_EQ(NetNamespace::addAddress(Listed).toStdString(), "");
        ASSERT_EQ(NetNamespace::addAddress(Typed).toStdString(), "");
        QString error;
        ASSERT_TRUE(desktop.start(&error)) << error.toStdString();

        // Each STOR waits a little for its answer, so the upload lasts a few seconds.
        ftpTranscript = dir.filePath(QStringLiteral("ftp.txt"));
        sim = std::make_unique<SimProcess>(
            QStringList{QStringLiteral("--router"), Listed + QStringLiteral(",state=normal"),
                        QStringLiteral("--router"), Typed + QStringLiteral(",answers=none"),
                        QStringLiteral("--ftp"), QStringLiteral("--ftp-options"),
                        Typed + QStringLiteral(":password=") + Password +
                            QStringLiteral(",delay=STOR:700,transcript=") + ftpTranscript});
        ASSERT_TRUE(sim->start(&error)) << error.toStdString();

        QStringList files;
        for (int i = 0; i < Files; ++i) {
            const QString path = dir.filePath(QStringLiteral("part%1.bin").arg(i));
            QFile f(path);
            ASSERT_TRUE(f.open(QIODevice::WriteOnly));
            f.write(QByteArray(100000, char('a' + i)));
            files << path + QStringLiteral(":upgrade,normal,default");
        }
        // The shipped settings (the password released to the user), with the query probe and the
        // System Log.
        packed = packProgram(dir.path(), files,
                             QStringList{QStringLiteral("--flags"), QStringLiteral("0x3B")});
        tmp = dir.filePath(QStringLiteral("tmp"));
        ASSERT_TRUE(QDir().mkpath(tmp));
        // Qt would put its own runtime folder under TMPDIR; the router locks live here too.
        runtime = dir.filePath(QStringLiteral("runtime"));
        ASSERT_TRUE(QDir().mkpath(runtime));
        QFile::setPermissions(runtime, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }

    void TearDown() override {
        for (QProcess& p : programs) {
            if (p.state() != QProcess::NotRunning) {
                p.kill();
                p.waitForFinished();
            }
        }
    }

    // Starts a copy of the packed program and waits until its start-up search has ended;
    // returns its main window (empty when it did not come).
    QString startProgram() {
        QProcess& program = programs.emplace_back();
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove(QStringLiteral("FWUPGRADE_HEADLESS"));
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        env.insert(QStringLiteral("DISPLAY"), desktop.display());
        env.insert(QStringLiteral("TMPDIR"), tmp);
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime);
        program.setProcessEnvironment(env);
        program.setProcessChannelMode(QProcess::MergedChannels);
        program.start(packed, {});
        if (!program.waitForStarted())
            return {};
        const QString pid = QString::number(program.processId());
        QString main;
        waitFor(
            [&] {
                const QStringList found =
                    desktop
                        .xdotool({QStringLiteral("search"), QStringLiteral("--all"),
                                  QStringLiteral("--onlyvisible"), QStringLiteral("--pid"), pid,
                                  QStringLiteral("--name"), MainTitle})
                        .split(u'\n', Qt::SkipEmptyParts);
                main = found.isEmpty() ? QString() : found.first();
                return !main.isEmpty();
            },
            StepBound);
        if (main.isEmpty() ||
            !waitFor(
                [&] {
                    return desktop.windows(QStringLiteral("^Searching for installed")).isEmpty();
                },
                SearchBound))
            return {};
        desktop.xdotool({QStringLiteral("windowactivate"), QStringLiteral("--sync"), main});
        return main;
    }

    void key(const QString& keys) {
        desktop.xdotool({QStringLiteral("key"), QStringLiteral("--clearmodifiers"), keys});
    }
    void type(const QString& text) {
        desktop.xdotool(
            {QStringLiteral("type"), QStringLiteral("--delay"), QStringLiteral("20"), text});
    }
    void click(const QString& window, int x, int y, const QString& button = QStringLiteral("1")) {
        desktop.xdotool({QStringLiteral("mousemove"), QStringLiteral("--window"), window,
                         QString::number(x), QString::number(y), QStringLiteral("click"), button});
    }
    int echoesTo(const QString& to) const {
        int n = 0;
        for (const QString& line : sim->transcriptLines())
            n += line.startsWith(QStringLiteral("icmp")) && line.contains(to) ? 1 : 0;
        return n;
    }
    int stores() const { return int(readAll(ftpTranscript).count("STOR ")); }

    // The router field has the focus: the typed address, Enter; it is probed (the address-only
    // step ends with its echo) and listed.
    bool chooseTypedRouter() {
        const int before = echoesTo(Typed);
        key(QStringLiteral("ctrl+a"));
        type(Typed);
        key(QStringLiteral("KP_Enter"));
        const bool probed = waitFor([&] { return echoesTo(Typed) > before; }, StepBound);
        QThread::msleep(300);
        return probed;
    }
    // Into the password field (the password group is shown: the program's own settings release
    // it to the user), the text, then Return.
    void enterPassword(const QString& main, const QString& text) {
        click(main, 174, 79);
        key(QStringLiteral("ctrl+a"));
        type(text);
        key(QStringLiteral("Return"));
    }

    // Where the log's scroll bar handle is: at the top of its groove, at the bottom, or between
    // (the groove's own shade is the one most of its rows have).
    enum class Handle { Top, Bottom, Between, Unknown };
    Handle logHandle(const QString& main) const {
        const Shot shot = desktop.grab(main);
        if (!shot.valid())
            return Handle::Unknown;
        std::map<unsigned, int> shades;
        for (int y = LogBarTop; y <= LogBarBottom; ++y)
            ++shades[shot.pixel(LogBarX, y)];
        const unsigned groove =
            std::max_element(shades.begin(), shades.end(), [](const auto& a, const auto& b) {
                return a.second < b.second;
            })->first;
        const bool top = shot.pixel(LogBarX, LogBarTop) != groove;
        const bool bottom = shot.pixel(LogBarX, LogBarBottom) != groove;
        return top == bottom ? Handle::Between : top ? Handle::Top : Handle::Bottom;
    }
};

} // namespace

TEST_F(WindowDesktop, TypedRouterIsProbedListedAndCloseDuringUploadEndsAtOnce) {
    const QString main = startProgram();
    ASSERT_FALSE(main.isEmpty()) << programs.back().readAll().toStdString();
    QProcess& program = programs.back();
    ASSERT_TRUE(chooseTypedRouter());
    // The query probe went to the typed address itself.
    EXPECT_TRUE(
        sim->transcriptLines()
            .filter(QRegularExpression(QStringLiteral("^udp.*") +
                                       QRegularExpression::escape(Typed + QStringLiteral(":9 "))))
            .size() > 0)
        << "no probe to " << Typed.toStdString();
    desktop.keepScreen(QStringLiteral("typed"));

    // Return in the password field: Upgrade finds the router (else "Router information not
    // found") and uploads by FTP.
    enterPassword(main, Password);
    const bool uploading = waitFor([&] { return stores() > 0; }, StepBound);
    desktop.keepScreen(QStringLiteral("upgrade"));
    ASSERT_TRUE(uploading) << "no upload started: " << program.readAll().toStdString();
    EXPECT_TRUE(desktop.windows(QStringLiteral("^Router information not found$")).isEmpty());

    // The title bar's close (Alt+F4 through the window manager), then OK in the question.
    key(QStringLiteral("alt+F4"));
    const QString question = desktop.waitForWindow(QStringLiteral("^Upgrade Warning$"), StepBound);
    ASSERT_FALSE(question.isEmpty());
    ASSERT_FALSE(readAll(ftpTranscript).contains("QUIT")) << "the upload ended before the close";
    desktop.keepScreen(QStringLiteral("question"));
    key(QStringLiteral("Return"));
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
    ASSERT_TRUE(ended) << "still running " << sinceConfirm.elapsed()
                       << " ms after the confirmation";
    EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(program.exitCode(), 1) << program.readAll().toStdString();
    EXPECT_TRUE(boxesAfter.isEmpty()) << boxesAfter.join(u';').toStdString();
    EXPECT_EQ(QDir(tmp).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
              QStringList());
    // Fewer than all files reached the router: the upload was really stopped.
    EXPECT_LT(stores(), Files);
}

TEST_F(WindowDesktop, RefusedPasswordIsTypedAgainAndTheLogFollowsUnlessScrolledUp) {
    const QString main = startProgram();
    ASSERT_FALSE(main.isEmpty()) << programs.back().readAll().toStdString();
    ASSERT_TRUE(chooseTypedRouter());

    enterPassword(main, QStringLiteral("wrong"));
    const QString refused =
        desktop.waitForWindow(QStringLiteral("^Authentication Failed$"), StepBound);
    ASSERT_FALSE(refused.isEmpty());
    key(QStringLiteral("Return"));
    ASSERT_TRUE(waitFor(
        [&] { return desktop.windows(QStringLiteral("^Authentication Failed$")).isEmpty(); },
        StepBound));
    // Straight into the password field, which still has the focus, its old text selected.
    QThread::msleep(300);
    type(Password);
    key(QStringLiteral("Return"));
    ASSERT_TRUE(waitFor([&] { return stores() > 0; }, StepBound))
        << "the corrected password went nowhere";
    ASSERT_FALSE(desktop.waitForWindow(QStringLiteral("^Success$"), StepBound).isEmpty());
    desktop.keepScreen(QStringLiteral("log-end"));
    // The upgrade's last lines are in sight: the handle sits at the groove's end.
    EXPECT_EQ(logHandle(main), Handle::Bottom) << "the log's newest line is not in sight";
    key(QStringLiteral("Return"));

    // Scrolled up to read, the view stays there while the next upgrade's lines arrive.
    for (int i = 0; i < 40; ++i)
        click(main, 160, LogBarTop + 30, QStringLiteral("4"));
    EXPECT_EQ(logHandle(main), Handle::Top);
    const int storesBefore = stores();
    enterPassword(main, Password);
    ASSERT_TRUE(waitFor([&] { return stores() > storesBefore; }, StepBound));
    ASSERT_FALSE(desktop.waitForWindow(QStringLiteral("^Success$"), StepBound).isEmpty());
    desktop.keepScreen(QStringLiteral("log-kept"));
    EXPECT_EQ(logHandle(main), Handle::Top) << "the log moved away from where it was read";
}

TEST_F(WindowDesktop, SecondCopyDoesNotUpgradeTheRouterTheFirstIsUpgrading) {
    const QString first = startProgram();
    ASSERT_FALSE(first.isEmpty());
    const QString second = startProgram();
    ASSERT_FALSE(second.isEmpty());
    // Side by side, so that the first copy's boxes never cover the second.
    desktop.xdotool({QStringLiteral("windowmove"), QStringLiteral("--sync"), second,
                     QStringLiteral("0"), QStringLiteral("0")});
    desktop.xdotool({QStringLiteral("windowactivate"), QStringLiteral("--sync"), first});
    ASSERT_TRUE(chooseTypedRouter());
    enterPassword(first, Password);
    ASSERT_TRUE(waitFor([&] { return stores() > 0; }, StepBound));

    desktop.xdotool({QStringLiteral("windowactivate"), QStringLiteral("--sync"), second});
    const bool probed = chooseTypedRouter();
    desktop.keepScreen(QStringLiteral("second"));
    ASSERT_TRUE(probed);
    enterPassword(second, Password);
    const QString busy = desktop.waitForWindow(QStringLiteral("^Upgrade Busy$"), StepBound);
    desktop.keepScreen(QStringLiteral("busy"));
    EXPECT_FALSE(busy.isEmpty());
    ASSERT_FALSE(desktop.waitForWindow(QStringLiteral("^Success$"), StepBound).isEmpty());
    // One image: each file stored once.
    const QByteArray ftp = readAll(ftpTranscript);
    for (int i = 0; i < Files; ++i)
        EXPECT_EQ(ftp.count("STOR part" + QByteArray::number(i)), 1) << i;
}

FW_NETNS_TEST_MAIN(QCoreApplication)
