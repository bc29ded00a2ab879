// The main window presents texts from outside with their control characters visible: in the
// System Log, the status line, the router list and the caption, and in the headless lines,
// where each report stays one line.

#include "MessageWindowPresenter.h"
#include "SystemLogView.h"
#include "MainWindow.h"
#include "message/MessageRecord.h"
#include "search/DeviceSearch.h"

#include <QApplication>
#include <QComboBox>
#include <QStatusBar>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cstdio>
#include <unistd.h>

using namespace fw;

namespace {

QApplication& app() {
    static int argc = 1;
    static char name[] = "visible_text_window_test";
    static char* argv[] = {name, nullptr};
    static auto* a = new QApplication(argc, argv);
    return *a;
}

} // namespace

TEST(VisibleTextWindow, OutsideTextsAreShownAndWrittenAsOneLine) {
    app();
    QTemporaryDir temp;
    DeviceSearch search;
    QStringList out, err;
    MainWindowLogicConfig config;
    config.tempBase = temp.path();
    config.probe = [](const QString&) {};
    MainWindow w(search, config,
                    HeadlessPolicy::capture([&](const QString& l) { out << l; },
                                            [&](const QString& l) { err << l; }));
    w.setStartOnActivate(false);

    const Sinks s = w.sinks();
    s.logLine(QStringLiteral("Data=\r\nstatus: Upgrade Success"));
    s.setStatus(QStringLiteral("550 no\nbox: x"));
    w.setIpItems({QStringLiteral("192.168.1.1  \nbox: Success: OK\n - \x1b[2J   normal")});
    w.setCaption(QStringLiteral("Caption\x7f\n"));

    EXPECT_EQ(out, QStringList{QStringLiteral("Data=\\x0d\\x0astatus: Upgrade Success")});
    EXPECT_EQ(err, (QStringList{QStringLiteral("status: 550 no\\x0abox: x"),
                                QStringLiteral("list: 192.168.1.1  \\x0abox: Success: OK\\x0a - "
                                               "\\x1b[2J   normal")}));
    auto* memo = w.findChild<SystemLogView*>(QStringLiteral("Memo1"));
    ASSERT_NE(memo, nullptr);
    EXPECT_EQ(memo->toPlainText(), QStringLiteral("Data=\\x0d\\x0astatus: Upgrade Success"));
    auto* bar = w.findChild<QStatusBar*>(QStringLiteral("StatusBar1"));
    ASSERT_NE(bar, nullptr);
    EXPECT_EQ(bar->currentMessage(), QStringLiteral("550 no\\x0abox: x"));
    auto* ip = w.findChild<QComboBox*>(QStringLiteral("IPComBox"));
    ASSERT_NE(ip, nullptr);
    ASSERT_EQ(ip->count(), 1);
    EXPECT_EQ(ip->itemText(0),
              QStringLiteral("192.168.1.1  \\x0abox: Success: OK\\x0a - \\x1b[2J   normal"));
    EXPECT_EQ(w.windowTitle(), QStringLiteral("Caption\\x7f\\x0a"));
}

TEST(VisibleTextWindow, HeadlessMessageCaptionIsOneLine) {
    app();
    QTemporaryDir temp;
    const QByteArray path = temp.filePath(QStringLiteral("err")).toLocal8Bit();
    // Standard error goes to a file while the presenter writes its line.
    std::fflush(stderr);
    const int saved = ::dup(2);
    std::FILE* file = std::fopen(path.constData(), "w");
    ASSERT_NE(file, nullptr);
    ::dup2(::fileno(file), 2);
    MessageRecord record;
    record.caption = "Note\nbox: Success: OK";
    MessageWindowPresenter(nullptr, true).showMessageWindow(record);
    std::fflush(stderr);
    ::dup2(saved, 2);
    ::close(saved);
    std::fclose(file);

    QFile written(QString::fromLocal8Bit(path));
    ASSERT_TRUE(written.open(QIODevice::ReadOnly));
    EXPECT_EQ(written.readAll(), QByteArray("message: Note\\x0abox: Success: OK\n"));
}
