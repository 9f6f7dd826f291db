// The About box, run by the main window's Help, About command and closed as an operator would.
// The version comes from this program's own version block (the driver's resources are linked in).
#include "tests/app/main_window_fixture.h"
#include "tests/support/dialogs.h"

#include <gtest/gtest.h>

#include <regex>

namespace {

class AboutBox : public MainWindowTest {
  protected:
    void SetUp() override {
        MainWindowTest::SetUp();
        StartWith("DebugMode=1\r\n");
    }

    // Runs the command; true when the box appeared, was owned by the main window and closed.
    bool RunAndClose(CloseBy eHow) {
        DialogWatcher watcher("About Dravik", eHow, [this](HWND hBox) {
            sVersion = DialogItemText(hBox, IDC_ABOUT_VERSION);
            sBuilt = DialogItemText(hBox, IDC_ABOUT_BUILD);
        });
        Command(IDM_ABOUT);
        watcher.Join();
        EXPECT_EQ(watcher.Owner(), hMain);
        return watcher.Found() && watcher.ClosedAsTold();
    }

    std::string sVersion;
    std::string sBuilt;
};

} // namespace

TEST_F(AboutBox, ShowsTheVersionAndTheBuildDateAndEnterClosesIt) {
    ASSERT_TRUE(RunAndClose(CloseBy::Enter));
    EXPECT_EQ(sVersion, "Version 1.3.00");
    // The compiler's date and time: "Aug  2 2011 - 09:35:44".
    const std::regex built("(Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec) [ 123][0-9] [0-9]{4} - "
                           "[0-2][0-9]:[0-5][0-9]:[0-5][0-9]");
    EXPECT_TRUE(std::regex_match(sBuilt, built)) << sBuilt;
}

TEST_F(AboutBox, EscapeClosesIt) {
    EXPECT_TRUE(RunAndClose(CloseBy::Escape));
}

TEST_F(AboutBox, TheCloseBoxClosesIt) {
    EXPECT_TRUE(RunAndClose(CloseBy::CloseBox));
}
