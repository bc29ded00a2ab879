// --help and --version of the three executables: the text on standard output, exit status 0,
// and for fwupgrade no window: a platform that does not exist would make any window fail.

#include "support/NetNamespace.h"

#include <QCoreApplication>

#include <gtest/gtest.h>

using namespace fw::test;

namespace {

constexpr std::chrono::milliseconds RunTimeout{15000};

struct InfoCase {
    const char* program; // below the build directory
    const char* argument;
    QByteArray expectedStart;
};

TEST(HelpVersion, AnswersOnStandardOutputAndExitsZeroWithoutADisplay) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("DISPLAY"));
    env.remove(QStringLiteral("WAYLAND_DISPLAY"));
    env.remove(QStringLiteral("FWUPGRADE_HEADLESS"));
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("no-such-platform"));

    const InfoCase cases[] = {
        {"src/app/fwupgrade", "--version", "fwupgrade " FW_VERSION "\n"},
        {"src/app/fwupgrade", "--help",
         "Usage: fwupgrade\n"
         "       fwupgrade put|set ROUTER PASSWORD ROMID [FILE] [log]\n"
         "       fwupgrade get ROUTER PASSWORD ROMID OFFSET LENGTH OUTPUT\n"
         "       fwupgrade --help | --version\n"},
        {"src/app/fwupgrade", "-h", "Usage: fwupgrade\n"},
        {"tools/fwpack/fwpack", "--version", "fwpack " FW_VERSION "\n"},
        {"tools/fwpack/fwpack", "--help", "Usage: fwpack COMMAND [OPTIONS] [ARGUMENTS]\n"},
        {"tools/routersim/routersim", "--version", "routersim " FW_VERSION "\n"},
        {"tools/routersim/routersim", "--help", "usage: routersim --router ADDR"},
        {"tools/fwfleet/fwfleet", "--version", "fwfleet " FW_VERSION "\n"},
        {"tools/fwfleet/fwfleet", "--help",
         "Usage: fwfleet [options] PROGRAM ROUTERS\n"},
    };
    for (const InfoCase& c : cases) {
        SCOPED_TRACE(std::string(c.program) + " " + c.argument);
        const ProgramRun run = runProgram(buildPath(QString::fromLatin1(c.program)),
                                          {QString::fromLatin1(c.argument)}, env, RunTimeout);
        ASSERT_TRUE(run.started);
        EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
        EXPECT_TRUE(run.out.startsWith(c.expectedStart)) << run.out.toStdString();
        if (QByteArray(c.argument) == "--version") {
            EXPECT_EQ(run.out, c.expectedStart);
        }
        EXPECT_EQ(run.err, QByteArray());
    }
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
