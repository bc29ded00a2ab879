// A headless run's reports through the main window's sinks: the same report as a text line or as
// a JSON object (box buttons and answer included), and the bar's moves as throttled progress.

#include "BoxPresenter.h"
#include "ProgressBarSink.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QThread>

using namespace fw;

namespace {
struct Capture {
    QStringList out, err, json;
    HeadlessPolicy text() {
        return HeadlessPolicy::capture([this](const QString& l) { out << l; },
                                       [this](const QString& l) { err << l; });
    }
    HeadlessPolicy jsonLines() {
        HeadlessPolicy p = text();
        p.json = [this](const QString& kind, const QJsonObject& fields) {
            QJsonObject o = fields;
            o.insert("kind", kind);
            json << QString::fromUtf8(QJsonDocument(o).toJson(QJsonDocument::Compact));
        };
        return p;
    }
};
} // namespace

TEST(HeadlessReportTest, TextLinesOrJsonObjects) {
    Capture c;
    const HeadlessPolicy text = c.text();
    BoxPresenter textBoxes(nullptr, text);
    text.report("log", "line");
    text.report("status", "busy");
    EXPECT_EQ(textBoxes.showBox("Sure?", "Ask", BoxButtons::YesNoCancel), BoxAnswer::Yes);
    EXPECT_EQ(c.out, QStringList{"line"});
    EXPECT_EQ(c.err, (QStringList{"status: busy", "box: Ask: Sure?"}));

    Capture j;
    const HeadlessPolicy json = j.jsonLines();
    BoxPresenter jsonBoxes(nullptr, json);
    json.report("list", "10.0.0.1\x1b[2J");
    EXPECT_EQ(jsonBoxes.showBox("Gone", QString(), BoxButtons::OkCancel), BoxAnswer::Ok);
    EXPECT_TRUE(j.out.isEmpty() && j.err.isEmpty()); // nothing but the objects
    EXPECT_EQ(j.json, (QStringList{
                          R"({"kind":"list","text":"10.0.0.1\u001b[2J"})",
                          R"({"answer":"OK","buttons":["OK","Cancel"],"caption":"","kind":"box","text":"Gone"})"}));
}

TEST(HeadlessReportTest, ProgressMovesOfOnePercentAtMostTenASecond) {
    Capture c;
    const HeadlessPolicy text = c.text();
    ProgressBarSink bar(nullptr, text);
    bar.setProgressMaximum(1000);
    QElapsedTimer t;
    t.start();
    for (int i = 1; i <= 1000; ++i) {
        bar.advanceProgress(1);
        if (i % 50 == 0) {
            QThread::msleep(20);
            QCoreApplication::processEvents();
        }
    }
    bar.flushHeadless(); // the last move, held back, still comes
    const qint64 took = t.elapsed();
    ASSERT_FALSE(c.err.isEmpty());
    EXPECT_EQ(c.err.last(), "progress: 1000/1000");
    EXPECT_GE(c.err.size(), 2);
    EXPECT_LE(c.err.size(), took / 100 + 1) << c.err.join(' ').toStdString();
    for (const QString& l : c.err)
        EXPECT_TRUE(l.startsWith("progress: ")) << l.toStdString();
}

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
