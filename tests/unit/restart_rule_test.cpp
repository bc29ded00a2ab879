// The rule that decides, probe by probe, whether a router came back from its restart: silence
// first or a new detail; a target version turns another detail into a mismatch; an echo alone
// waits for the detail and decides only at the end.

#include "upgrade/VerifyWait.h"

#include <gtest/gtest.h>

using namespace fw;
using Verdict = RestartRule::Verdict;

namespace {
const RouterAnswer Silent{};
RouterAnswer query(const char* detail) {
    return {true, true, QStringLiteral("ABC123"), QString::fromLatin1(detail)};
}
const RouterAnswer EchoOnly{false, true, {}, {}};
} // namespace

TEST(RestartRule, BackAfterSilenceOrWithANewDetail) {
    RestartRule same(QStringLiteral("V2.40"), {});
    EXPECT_EQ(same.onProbe(query("V2.40")), Verdict::Waiting); // still the old firmware
    EXPECT_EQ(same.onProbe(Silent), Verdict::Waiting);
    EXPECT_EQ(same.onProbe(query("V2.40")), Verdict::Back);
    EXPECT_EQ(same.after(), QStringLiteral("V2.40"));
    EXPECT_EQ(same.romId(), QStringLiteral("ABC123"));

    RestartRule quick(QStringLiteral("V2.40"), {});
    EXPECT_EQ(quick.onProbe(query("V2.41")), Verdict::Back); // restarted between two probes
    EXPECT_EQ(quick.after(), QStringLiteral("V2.41"));
}

TEST(RestartRule, TargetVersionAndEchoOnly) {
    RestartRule old(QStringLiteral("V2.40"), QStringLiteral("V2.41"));
    EXPECT_EQ(old.onProbe(Silent), Verdict::Waiting);
    EXPECT_EQ(old.onProbe(query("V2.40")), Verdict::Mismatch);

    RestartRule echo(QStringLiteral("V2.40"), QStringLiteral("V2.41"));
    EXPECT_EQ(echo.atEnd(), Verdict::Waiting); // never silent, never new: a timeout
    EXPECT_EQ(echo.onProbe(Silent), Verdict::Waiting);
    EXPECT_EQ(echo.onProbe(EchoOnly), Verdict::Waiting);
    EXPECT_EQ(echo.atEnd(), Verdict::Mismatch); // back, but its version unknown
    EXPECT_EQ(echo.onProbe(query("V2.41")), Verdict::Back);

    RestartRule any(QStringLiteral("V2.40"), {});
    any.onProbe(Silent);
    any.onProbe(EchoOnly);
    EXPECT_EQ(any.atEnd(), Verdict::Back);
    EXPECT_FALSE(any.after().has_value());
}
