// The System Log view: every line kept at once and exactly, shown in batches, following the end
// unless the person scrolled away, and copied whole.

#include "SystemLogView.h"
#include "support/EventPump.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QScrollBar>
#include <QTest>

using namespace fw;

namespace {

QApplication& app() {
    static int argc = 1;
    static char name[] = "system_log_view_test";
    static char* argv[] = {name, nullptr};
    static auto* a = new QApplication(argc, argv);
    return *a;
}

bool pumpUntilShown(const SystemLogView& v) {
    return fw::test::pumpUntil([&] { return v.shownCount() == v.lineCount(); },
                               std::chrono::milliseconds(2000));
}

} // namespace

TEST(SystemLogView, KeepsEveryLineShowsInBatchesAndFollowsTheEnd) {
    app();
    SystemLogView v;
    v.resize(320, 112);
    v.show();
    EXPECT_EQ(v.toPlainText(), QString());
    EXPECT_EQ(v.verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);

    QStringList lines;
    for (int i = 0; i < 3000; ++i)
        lines << (i % 2 ? QStringLiteral("Recv : %1").arg(i / 2)
                        : QStringLiteral("Sent %1 ..").arg(i / 2));
    lines << QStringLiteral("Größe ✓ \\ tab\there") << QString(); // any text, an empty line
    for (const QString& l : std::as_const(lines))
        v.appendLine(l);
    // Kept at once, shown a moment later.
    EXPECT_EQ(v.toPlainText(), lines.join(u'\n'));
    EXPECT_EQ(v.lineCount(), lines.size());
    EXPECT_EQ(v.line(3000), lines[3000]);
    EXPECT_EQ(v.shownCount(), 0);
    ASSERT_TRUE(pumpUntilShown(v));
    QScrollBar* bar = v.verticalScrollBar();
    EXPECT_GT(bar->maximum(), 2900);
    EXPECT_EQ(bar->value(), bar->maximum());

    // Scrolled away: new lines do not move the view. Back at the end: it follows again.
    bar->setValue(10);
    v.appendLine(QStringLiteral("one more"));
    ASSERT_TRUE(pumpUntilShown(v));
    EXPECT_EQ(bar->value(), 10);
    bar->setValue(bar->maximum());
    v.appendLine(QStringLiteral("and another"));
    ASSERT_TRUE(pumpUntilShown(v));
    EXPECT_EQ(bar->value(), bar->maximum());

    QTest::keyClick(&v, Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QApplication::clipboard()->text(), v.toPlainText());
}

// Lines wider than the view bring the horizontal scroll bar, which takes height from the lines:
// the newest line stays whole in sight, also for a view filled while hidden and shown later.
TEST(SystemLogView, NewestLineStaysWholeAboveTheHorizontalScrollBar) {
    app();
    for (const bool hiddenFirst : {false, true}) {
        SystemLogView v;
        v.resize(320, 112);
        if (!hiddenFirst)
            v.show();
        for (int i = 0; i < 40; ++i)
            v.appendLine(QStringLiteral("Set PassWd = line %1 ").arg(i).repeated(i == 20 ? 8 : 1));
        v.showPending();
        v.show();
        ASSERT_TRUE(fw::test::pumpUntil([&] { return v.horizontalScrollBar()->isVisible(); },
                                        std::chrono::milliseconds(2000)));
        const QScrollBar* bar = v.verticalScrollBar();
        EXPECT_EQ(bar->value(), bar->maximum()) << hiddenFirst;
        const int lineHeight = QFontMetrics(v.font()).lineSpacing();
        const int rows = v.lineCount() - bar->value();
        EXPECT_LE(SystemLogView::Margin + rows * lineHeight, v.viewport()->height()) << hiddenFirst;
    }
}
