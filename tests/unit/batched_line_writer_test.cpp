// The headless streams' writer: a line after a quiet spell goes out at once, a burst goes out
// together a moment later, in order and byte-exact, and nothing is lost at the end.

#include "support/EventPump.h"
#include "ui/BatchedLineWriter.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QThread>

#include <cstdio>
#include <memory>

using namespace fw;

namespace {

QCoreApplication& app() {
    static int argc = 1;
    static char name[] = "batched_line_writer_test";
    static char* argv[] = {name, nullptr};
    static QCoreApplication a(argc, argv);
    return a;
}

QByteArray contents(std::FILE* f) {
    std::fflush(f);
    std::rewind(f);
    QByteArray out;
    char buf[4096];
    for (size_t n; (n = std::fread(buf, 1, sizeof buf, f)) > 0;)
        out.append(buf, qsizetype(n));
    std::fseek(f, 0, SEEK_END);
    return out;
}

} // namespace

TEST(BatchedLineWriter, BurstsGoOutTogetherInOrderAndNothingIsLost) {
    app();
    std::FILE* f = std::tmpfile();
    ASSERT_NE(f, nullptr);
    auto writer = std::make_unique<BatchedLineWriter>(f);

    writer->writeLine(QStringLiteral("Sent 0 .."));
    EXPECT_EQ(contents(f), QByteArray("Sent 0 ..\n")); // after a quiet spell: at once
    QByteArray expected = "Sent 0 ..\n";
    for (int i = 1; i <= 200; ++i) {
        writer->writeLine(QStringLiteral("Recv : %1").arg(i));
        expected += "Recv : " + QByteArray::number(i) + '\n';
    }
    // The burst waits for its batch (a line may go out alone after a stall of the machine).
    EXPECT_LT(contents(f).size(), expected.size());
    EXPECT_TRUE(expected.startsWith(contents(f)));
    EXPECT_TRUE(fw::test::pumpUntil([&] { return contents(f) == expected; },
                                    std::chrono::milliseconds(2000)));

    // A batch past FlushBytes goes out without waiting.
    const QString wide(1000, u'x');
    for (int i = 0; i < 70; ++i) {
        writer->writeLine(wide);
        expected += wide.toLatin1() + '\n';
    }
    EXPECT_GE(contents(f).size(), BatchedLineWriter::FlushBytes);

    writer->writeLine(QStringLiteral("last"));
    expected += "last\n";
    writer.reset(); // the end writes what is left
    EXPECT_EQ(contents(f), expected);
    std::fclose(f);
}
