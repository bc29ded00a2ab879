#pragma once
// The isolated test bed of the end-to-end tests: a private network namespace for the whole test
// process (only the loopback device, a default route through it, test addresses on it, the
// kernel's ICMP echo switched off so routersim answers echo itself), and helpers that run
// routersim and the program in it with bounded waits. Main thread of a test executable.

#include <QByteArray>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <chrono>
#include <memory>

namespace fw::test {

class NetNamespace {
public:
    // First thing in main(), before any thread exists: enters a new network namespace
    // (in-process when privileged, else by re-executing the program under `unshare -rn`) and
    // sets it up. Never aborts; the outcome is kept for ready() / failure(). FW_NETNS_DISABLE=1
    // in the environment stays outside (to check how the tests behave without a namespace).
    static void enterFromMain(int argc, char** argv);

    static bool ready() { return failure().isEmpty(); }
    // Why the namespace is not available (empty when it is).
    static QString failure();
    // With CI=true a missing namespace fails the tests instead of skipping them.
    static bool mustRun();

    // Adds an IPv4 address (as /32) to lo; an address already there is fine. Empty on success,
    // else the error. Refused outside the namespace.
    static QString addAddress(const QString& address);
    // Runs a command (no shell) and returns its standard output and error; *exitCode set.
    static QString run(const QStringList& command, int* exitCode = nullptr);
    // Only lo exists and every route goes through it; *detail gets `ip route` and the links.
    static bool onlyLoopback(QString* detail = nullptr);
    // Writes a value under /proc/sys (per namespace for net.*); false when it cannot.
    static bool setSysctl(const QString& path, const QByteArray& value);
};

// A path below the build directory (FW_BUILD_DIR, else next to the test executable's folder).
QString buildPath(const QString& relative);
QString routersimPath();
QString fwupgradePath();

// One routersim process with a transcript in a private temporary directory.
class SimProcess {
public:
    static constexpr std::chrono::milliseconds StartTimeout{10000};
    static constexpr std::chrono::milliseconds StopTimeout{3000};

    explicit SimProcess(QStringList args);
    ~SimProcess();
    SimProcess(const SimProcess&) = delete;
    SimProcess& operator=(const SimProcess&) = delete;

    // Runs routersim through this command (e.g. nsenter into another namespace); set before
    // start().
    void setLauncher(QStringList command) { launcher_ = std::move(command); }
    // Starts routersim and waits until it says it is ready. Refused outside the namespace.
    bool start(QString* error);
    void stop();
    bool running() const;

    QString transcriptPath() const;
    // Transcript lines as written so far.
    QStringList transcriptLines() const;
    QString errorOutput();

private:
    QStringList args_;
    QStringList launcher_;
    QTemporaryDir dir_;
    std::unique_ptr<QProcess> process_;
    QByteArray stderr_;
};

// A finished (or killed) run of a program.
struct ProgramRun {
    bool started = false;
    bool timedOut = false;
    int exitCode = -1;
    QByteArray out, err;
};
// `input` goes to the program's standard input, which is then closed.
ProgramRun runProgram(const QString& path, const QStringList& args, const QProcessEnvironment& env,
                      std::chrono::milliseconds timeout, const QByteArray& input = {});

} // namespace fw::test

// In a test (or its fixture's SetUp): skip when the namespace is missing, fail under CI=true.
#define FW_REQUIRE_NETNS()                                                                         \
    do {                                                                                           \
        if (!::fw::test::NetNamespace::ready()) {                                                  \
            if (::fw::test::NetNamespace::mustRun())                                               \
                GTEST_FAIL() << "private network namespace required (CI=true): "                   \
                             << ::fw::test::NetNamespace::failure().toStdString();                 \
            else                                                                                   \
                GTEST_SKIP() << "private network namespace not available, test skipped: "          \
                             << ::fw::test::NetNamespace::failure().toStdString();                 \
        }                                                                                          \
    } while (0)

// main() of a namespace test executable; AppType is QCoreApplication or QApplication.
#define FW_NETNS_TEST_MAIN(AppType)                                                                \
    int main(int argc, char** argv) {                                                              \
        ::fw::test::NetNamespace::enterFromMain(argc, argv);                                       \
        AppType app(argc, argv);                                                                   \
        ::testing::InitGoogleTest(&argc, argv);                                                    \
        return RUN_ALL_TESTS();                                                                    \
    }
