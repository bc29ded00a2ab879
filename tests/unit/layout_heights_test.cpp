// SetLayout: which groups are shown, where they stack, and the window height of every mode.

#include "support/FakeMainView.h"

#include <gtest/gtest.h>

using namespace fw;
using namespace fw::test;

namespace {

constexpr int H = 359, kPassword = 41, kFile = 57, kLog = 137;

struct Expect {
    int mode;
    bool password, file;
    int heightLogShown, heightLogHidden;
};

const Expect kModes[] = {
    {2, false, true, H - kPassword + 14, H - kLog - kPassword + 14},
    {3, true, true, H + 4, H - kLog + 4},
    {4, false, false, H - kPassword - kFile + 4, H - kLog - kPassword - kFile + 4},
    {5, true, false, H - kFile + 4, H - kLog - kFile + 4},
};

void prepare(FormHarness& h, bool logShown) {
    h.form.FullHeight = H;
    h.form.LogShown = logShown;
}

} // namespace

TEST(Layout, StackedModesWithTheLogShownAndHidden) {
    for (const Expect& e : kModes) {
        for (bool logShown : {false, true}) {
            SCOPED_TRACE(testing::Message() << "mode " << e.mode << " log " << logShown);
            FormHarness h;
            prepare(h, logShown);
            h.form.SetLayout(e.mode);
            EXPECT_EQ(h.view.height, logShown ? e.heightLogShown : e.heightLogHidden);
            EXPECT_EQ(h.view.shown(Group::Password), e.password);
            EXPECT_EQ(h.view.shown(Group::UpgradeFile), e.file);
            EXPECT_TRUE(h.view.shown(Group::Tool));
            EXPECT_TRUE(h.view.shown(Group::Progress));
            EXPECT_EQ(h.view.shown(Group::SystemLog), logShown);

            int top = 57; // below the search group
            if (e.password) {
                EXPECT_EQ(h.view.top(Group::Password), top);
                top += kPassword;
            }
            if (e.file) {
                EXPECT_EQ(h.view.top(Group::UpgradeFile), top);
                top += kFile;
            }
            EXPECT_EQ(h.view.top(Group::Tool), top);
            EXPECT_EQ(h.view.top(Group::Progress), top + 40);
            if (logShown) {
                EXPECT_EQ(h.view.top(Group::SystemLog), top + 40 + 25);
            }
            EXPECT_EQ(h.form.LogShown, logShown);
        }
    }
}

TEST(Layout, FullModeRestoresTheDesign) {
    FormHarness h;
    prepare(h, false);
    h.form.SetLayout(4);
    h.form.SetLayout(1);
    EXPECT_EQ(h.view.height, H);
    const std::pair<Group, int> design[] = {{Group::Password, 56},
                                            {Group::UpgradeFile, 89},
                                            {Group::Tool, 144},
                                            {Group::Progress, 180},
                                            {Group::SystemLog, 204}};
    for (const auto& [g, top] : design) {
        EXPECT_EQ(h.view.top(g), top);
        EXPECT_TRUE(h.view.shown(g));
    }
}

TEST(Layout, ShowAndHideLogOnlyChangeWhatIsNeeded) {
    FormHarness h;
    prepare(h, false);
    h.form.SetLayout(4);
    const int small = H - kLog - kPassword - kFile + 4;
    ASSERT_EQ(h.view.height, small);

    h.form.SetLayout(6);
    EXPECT_EQ(h.view.height, small + kLog);
    EXPECT_TRUE(h.view.shown(Group::SystemLog));
    EXPECT_EQ(h.view.top(Group::SystemLog), h.view.top(Group::Progress) + 25);
    EXPECT_FALSE(h.form.LogShown); // the caller sets it

    h.form.LogShown = true;
    h.form.SetLayout(6); // already shown: nothing
    EXPECT_EQ(h.view.height, small + kLog);

    h.form.SetLayout(7);
    EXPECT_EQ(h.view.height, small);
    EXPECT_FALSE(h.view.shown(Group::SystemLog));
    h.form.LogShown = false;
    h.form.SetLayout(7); // already hidden: nothing
    EXPECT_EQ(h.view.height, small);

    h.form.SetLayout(8); // unknown: nothing
    EXPECT_EQ(h.view.height, small);
}

TEST(Layout, LogEnabledShowsTheLogAfterStackedModes) {
    for (const Expect& e : kModes) {
        SCOPED_TRACE(e.mode);
        FormHarness h;
        prepare(h, false);
        h.form.settings.setByte(SettingsRecord::SettingFlags, 0x9F | SettingsRecord::LogEnabled);
        h.form.SetLayout(e.mode);
        EXPECT_EQ(h.view.height, e.heightLogShown);
        EXPECT_TRUE(h.view.shown(Group::SystemLog));
        EXPECT_TRUE(h.form.LogShown);
        EXPECT_EQ(h.form.ListDetail, 222);
    }
}

TEST(Layout, FirstWord) {
    EXPECT_EQ(MainWindowLogic::FirstWord(QStringLiteral("10.0.0.1   normal")),
              QStringLiteral("10.0.0.1"));
    EXPECT_EQ(MainWindowLogic::FirstWord(QStringLiteral("10.0.0.1")), QStringLiteral("10.0.0.1"));
    EXPECT_EQ(MainWindowLogic::FirstWord(QStringLiteral(" lead")), QString());
    EXPECT_EQ(MainWindowLogic::FirstWord(QString()), QString());
}
