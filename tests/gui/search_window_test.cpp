// The search window offscreen: its fixed layout, and modal runs inside the private network
// namespace (exec returns after the repeat search; progress reaches 100 with a router).

#include "SearchWindow.h"
#include "process/ProcessState.h"
#include "search/DeviceSearch.h"
#include "support/NetNamespace.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QProgressBar>
#include <QTimer>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>

using namespace fw;
using fw::test::NetNamespace;
using fw::test::SimProcess;

namespace {

constexpr int WatchdogMs = 20000;
const QString Home = QStringLiteral("192.168.123.254");

struct Boxes : BoxSink {
    QStringList texts;
    BoxAnswer showBox(const QString& text, const QString&, BoxButtons, BoxIcon) override {
        texts << text;
        return BoxAnswer::Ok;
    }
};

// exec() with a watchdog; false when the watchdog had to end the window.
bool execBounded(SearchWindow& form) {
    bool ended = true;
    QTimer watchdog;
    watchdog.setSingleShot(true);
    QObject::connect(&watchdog, &QTimer::timeout, &form, [&] {
        ended = false;
        form.done(QDialog::Rejected);
    });
    watchdog.start(WatchdogMs);
    form.exec();
    return ended;
}

class RefreshInNamespace : public ::testing::Test {
protected:
    void SetUp() override {
        FW_REQUIRE_NETNS();
        ASSERT_EQ(NetNamespace::addAddress(Home).toStdString(), "");
    }
    void startSim(const QString& router) {
        sim = std::make_unique<SimProcess>(QStringList{QStringLiteral("--router"), router});
        QString error;
        ASSERT_TRUE(sim->start(&error)) << error.toStdString();
    }
    std::unique_ptr<SimProcess> sim;
};

} // namespace

TEST(SearchWindow, FixedLayout) {
    QWidget owner;
    owner.setGeometry(200, 150, 640, 480);
    owner.show();
    DeviceSearch search;
    SearchWindow form(search, &owner);
    EXPECT_EQ(form.windowTitle(), QStringLiteral("Searching for installed device(s)..."));
    EXPECT_EQ(form.Label1->text(), QStringLiteral("Searching for installed device(s)"));
    EXPECT_EQ(form.Label2->text(), QStringLiteral("Please Wait ..."));
    EXPECT_LT(form.Label1->geometry().bottom(), form.Label2->geometry().top());
    EXPECT_LT(form.Label2->geometry().bottom(), form.ProgressBar1->geometry().top());
    EXPECT_EQ(form.size(), QSize(300, 107));
    EXPECT_EQ(form.minimumSize(), form.maximumSize());
    EXPECT_EQ(form.ProgressBar1->minimum(), 0);
    EXPECT_EQ(form.ProgressBar1->maximum(), 100);
    EXPECT_EQ(form.Timer1->interval(), 20);
    EXPECT_FALSE(form.Timer1->isActive());
    EXPECT_TRUE(form.isModal());

    // Shown, it centres itself on its owner; hidden before its search starts, it runs none.
    form.show();
    const QPoint offset = form.geometry().center() - owner.geometry().center();
    EXPECT_LE(offset.manhattanLength(), 40) << offset.x() << "," << offset.y();
    form.hide();
    QCoreApplication::processEvents();
    EXPECT_EQ(form.searchesRun(), 0);
}

TEST(SearchWindow, ScreenshotOfTheWindow) {
    DeviceSearch search;
    SearchWindow form(search);
    form.ProgressBar1->setValue(40);
    const QPixmap shot = form.grab();
    EXPECT_EQ(shot.size(), QSize(300, 107) * shot.devicePixelRatio());
    const QString path = qEnvironmentVariable("FW_SCREENSHOT");
    if (!path.isEmpty()) {
        EXPECT_TRUE(shot.save(path, "PNG"));
    }
}

TEST_F(RefreshInNamespace, ExecReturnsAfterTheRepeatSearchWithProgressAt100) {
    startSim(Home + QStringLiteral(",romid=ABC123,detail=Router X"));
    DeviceSearch search;
    SearchWindow form(search);
    ASSERT_TRUE(execBounded(form));
    EXPECT_FALSE(form.isVisible());
    EXPECT_FALSE(form.Timer1->isActive());
    EXPECT_EQ(form.searchesRun(), 2);
    EXPECT_EQ(form.ProgressBar1->value(), 100);
    EXPECT_EQ(search.devices().count(), 2);
    EXPECT_EQ(search.listLines(111), QStringList({Home, Home + QStringLiteral("   IP duplicate")}));

    // Shown again, it searches again.
    ASSERT_TRUE(execBounded(form));
    EXPECT_EQ(form.searchesRun(), 4);
    EXPECT_EQ(search.devices().count(), 2);
}

TEST_F(RefreshInNamespace, WithoutARouterTheBarMovesWhileTheWindowStaysLive) {
    DeviceSearch search;
    SearchWindow form(search);
    // What a person sees while the probes wait: the window up and the bar at each moment.
    QList<int> seen;
    QTimer look;
    look.setInterval(50);
    QObject::connect(&look, &QTimer::timeout, [&] {
        if (form.isVisible() && form.searchesRun() > 0)
            seen << form.ProgressBar1->value();
    });
    look.start();
    ASSERT_TRUE(execBounded(form));
    EXPECT_EQ(form.searchesRun(), 2);
    EXPECT_EQ(search.countText(), QStringLiteral("0 device found"));
    ASSERT_GE(seen.size(), 10); // the window kept turning while the probes listened
    EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end()));
    EXPECT_GT(seen.last(), seen.first());
    EXPECT_LT(seen.last(), 100); // full only when a router is known
}

TEST_F(RefreshInNamespace, ClearedRepeatFlagMeansOneSearch) {
    startSim(Home + QStringLiteral(",romid=ABC123"));
    DeviceSearch search;
    // What the socket layer does when it meets "No route to host.".
    search.setEchoFunction([](const QString&) {
        ProcessState::repeatSearch = false;
        return true;
    });
    SearchWindow form(search);
    ASSERT_TRUE(execBounded(form));
    EXPECT_EQ(form.searchesRun(), 1);
    EXPECT_EQ(search.devices().count(), 2);
}

TEST_F(RefreshInNamespace, SocketFailureShowsOneBoxAndCloses) {
    // Without a route the broadcast cannot be sent.
    const QStringList route{QStringLiteral("ip"), QStringLiteral("route")};
    int rc = -1;
    NetNamespace::run(route + QStringList{QStringLiteral("del"), QStringLiteral("default")}, &rc);
    ASSERT_EQ(rc, 0);
    DeviceSearch search;
    Boxes boxes;
    Sinks sinks;
    sinks.box = &boxes;
    search.setSinks(sinks);
    SearchWindow form(search);
    const bool ended = execBounded(form);
    NetNamespace::run(route + QStringList{QStringLiteral("add"), QStringLiteral("default"),
                                          QStringLiteral("dev"), QStringLiteral("lo"),
                                          QStringLiteral("src"), QStringLiteral("127.0.0.1")},
                      &rc);
    EXPECT_EQ(rc, 0);
    ASSERT_TRUE(ended);
    EXPECT_EQ(form.searchesRun(), 1);
    EXPECT_EQ(boxes.texts, QStringList{QStringLiteral("winsock.sendto failed, error #10051")});
}

FW_NETNS_TEST_MAIN(QApplication)
