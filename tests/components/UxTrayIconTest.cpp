// The notification-area icon through its shell seam: the record, the call sequence, the
// retry loop, balloons, the shell's callbacks, minimise to tray and restore; and one run
// against Wine's own Shell_NotifyIconA.
#include <gtest/gtest.h>

#include <deque>

#include "components/UxTrayIcon.h"
#include "support/Pump.h"

using namespace framework;
using testsupport::PumpFor;
using testsupport::PumpUntil;

namespace {

// A scriptable shell: each call takes the next (result, last error) answer, else success.
struct FakeShell {
    struct Call {
        DWORD Message;
        NOTIFYICONDATAA Data;
    };
    static inline std::vector<Call> calls;
    static inline std::deque<std::pair<BOOL, DWORD>> answers;
    static inline uint32_t version = 0x00060000;
    static inline int sleeps = 0;
    static BOOL WINAPI Notify(DWORD message, PNOTIFYICONDATAA data) {
        calls.push_back({message, *data});
        BOOL result = TRUE;
        DWORD error = 0;
        if (!answers.empty()) {
            std::tie(result, error) = answers.front();
            answers.pop_front();
        }
        SetLastError(error);
        return result;
    }
    static uint32_t Version() { return version; }
    static void WINAPI Sleep(DWORD ms) {
        EXPECT_EQ(ms, 1000u);
        ++sleeps;
    }
    static void Reset() {
        calls.clear();
        answers.clear();
        version = 0x00060000;
        sleeps = 0;
    }
};

class Tray : public ::testing::Test {
protected:
    void SetUp() override {
        FakeShell::Reset();
        TrayShell() = TTrayShell{&FakeShell::Notify, &FakeShell::Version, &FakeShell::Sleep};
        menu = std::make_unique<TPopupMenu>(nullptr);
        show = std::make_unique<TMenuItem>(nullptr);
        show->SetCaption("Show");
        show->SetDefault(true);
        close = std::make_unique<TMenuItem>(nullptr);
        close->SetCaption("Close");
        menu->Items().Add(show.get());
        menu->Items().Add(close.get());
        show->OnClick = [this](TComponent*) { ++shows; };
        tray = std::make_unique<TUxTrayIcon>(nullptr);
        tray->SetPopupMenu(menu.get());
    }
    void TearDown() override {
        tray.reset();
        TrayShell() = RealTrayShell();
    }
    // Sends the shell's callback for a mouse or balloon notice.
    LRESULT Notice(UINT code) { return SendMessageA(tray->WindowHandle(), WM_TRAYNOTIFY, TrayIconId, code); }
    // Opens and closes a popup right away, recording that it opened.
    void EndMenusWhenOpened() {
        menu->OnPopup = [this](TComponent*) {
            ++popups;
            SetTimer(nullptr, 0, 30, [](HWND, UINT, UINT_PTR id, DWORD) {
                KillTimer(nullptr, id);
                EndMenu();
            });
        };
    }
    std::unique_ptr<TPopupMenu> menu;
    std::unique_ptr<TMenuItem> show, close;
    std::unique_ptr<TUxTrayIcon> tray;
    int shows = 0, popups = 0;
};

TEST_F(Tray, ActivationFillsTheRecordAndAddsThenSetsTheVersion) {
    tray->SetHint(std::string(150, 'h') + "|long part");
    tray->SetActive(true);
    ASSERT_EQ(FakeShell::calls.size(), 2u);
    const auto& add = FakeShell::calls[0];
    EXPECT_EQ(add.Message, DWORD(NIM_ADD));
    EXPECT_EQ(add.Data.uFlags, UINT(NIF_MESSAGE | NIF_ICON | NIF_TIP));
    EXPECT_EQ(add.Data.cbSize, DWORD(NOTIFYICONDATAA_V2_SIZE));
    EXPECT_EQ(add.Data.hWnd, tray->WindowHandle());
    EXPECT_EQ(add.Data.uID, 1u);
    EXPECT_EQ(add.Data.uCallbackMessage, UINT(WM_USER + 1));
    EXPECT_NE(add.Data.hIcon, nullptr) << "the application icon stands in for an empty Icon";
    EXPECT_EQ(std::string(add.Data.szTip), std::string(127, 'h')) << "short hint, 127 characters";
    EXPECT_EQ(FakeShell::calls[1].Message, DWORD(NIM_SETVERSION));
    EXPECT_EQ(FakeShell::calls[1].Data.uFlags, 0u);
    EXPECT_EQ(FakeShell::calls[1].Data.uVersion, UINT(NOTIFYICON_VERSION));
    EXPECT_TRUE(tray->IconAdded());

    tray->SetActive(false);
    ASSERT_EQ(FakeShell::calls.size(), 3u);
    EXPECT_EQ(FakeShell::calls[2].Message, DWORD(NIM_DELETE));
    EXPECT_EQ(FakeShell::calls[2].Data.uFlags, 0u);
    EXPECT_FALSE(tray->IconAdded());
}

TEST_F(Tray, OldShellUsesTheSmallRecordNoVersionNoBalloonsAndOneLineTips) {
    FakeShell::version = 0x00040047;
    tray->SetHint("Line one\r\nLine two " + std::string(80, 'x'));
    EXPECT_EQ(tray->Hint().substr(0, 20), "Line one - Line two ");
    tray->SetActive(true);
    ASSERT_EQ(FakeShell::calls.size(), 1u);
    EXPECT_EQ(FakeShell::calls[0].Data.cbSize, DWORD(NOTIFYICONDATAA_V1_SIZE));
    EXPECT_EQ(std::string(FakeShell::calls[0].Data.szTip).size(), 63u);
    tray->ShowBalloon("Title", "Text", TBalloonType::btInfo, 3000, false);
    EXPECT_EQ(FakeShell::calls.size(), 1u);
}

TEST_F(Tray, HintGoesToTheShellAtTheNextMouseMove) {
    tray->SetActive(true);
    FakeShell::calls.clear();
    tray->SetHint("Battery 80%|details");
    EXPECT_TRUE(FakeShell::calls.empty());
    Notice(WM_MOUSEMOVE);
    ASSERT_EQ(FakeShell::calls.size(), 1u);
    EXPECT_EQ(FakeShell::calls[0].Message, DWORD(NIM_MODIFY));
    EXPECT_EQ(FakeShell::calls[0].Data.uFlags, UINT(NIF_TIP));
    EXPECT_STREQ(FakeShell::calls[0].Data.szTip, "Battery 80%");
    Notice(WM_MOUSEMOVE);
    EXPECT_EQ(FakeShell::calls.size(), 1u) << "an unchanged hint is not sent again";
}

TEST_F(Tray, IconIndexOutsideTheListFallsBackToIconThenTheApplicationIcon) {
    TImageList list(nullptr, 16, 16);
    TBitmap b(16, 16);
    list.Add(b, nullptr);
    tray->SetIcons(&list);
    tray->SetActive(true);
    FakeShell::calls.clear();
    tray->SetIconIndex(5);
    ASSERT_EQ(FakeShell::calls.size(), 1u);
    EXPECT_EQ(FakeShell::calls[0].Data.uFlags, UINT(NIF_ICON));
    TIcon own;
    own.SetHandle(CopyIcon(LoadIconA(nullptr, reinterpret_cast<LPCSTR>(IDI_WARNING))));
    tray->SetIcon(own);
    EXPECT_EQ(FakeShell::calls.size(), 2u) << "the new Icon is shown at once";
    tray->SetIconIndex(0);
    EXPECT_EQ(FakeShell::calls.size(), 3u);
    EXPECT_EQ(tray->NotifyData().hIcon, FakeShell::calls.back().Data.hIcon);
}

TEST_F(Tray, RetryLoopAroundABusyShell) {
    struct Row {
        const char* what;
        DWORD message;  // the call under test
        std::vector<std::pair<BOOL, DWORD>> answers;
        TTrayVisibilities extra;
        bool expect;
        int sleeps;
        std::vector<DWORD> sequence;
    };
    const std::pair<BOOL, DWORD> busy{FALSE, ERROR_TIMEOUT}, quiet{FALSE, 0}, ok{TRUE, 0}, denied{FALSE, 5};
    const Row rows[] = {
        {"add: the icon turns out to be there", NIM_ADD, {busy, ok}, 0, true, 1, {NIM_ADD, NIM_MODIFY}},
        {"add: the second add succeeds", NIM_ADD, {quiet, quiet, ok}, 0, true, 1, {NIM_ADD, NIM_MODIFY, NIM_ADD}},
        {"delete: modify failing means gone", NIM_DELETE, {busy, quiet}, 0, true, 1, {NIM_DELETE, NIM_MODIFY}},
        {"another error fails at once", NIM_ADD, {denied}, 0, false, 0, {NIM_ADD}},
        {"no retry when asked not to", NIM_ADD, {busy}, TrayVis(tvNoRetryOnFailure), false, 0, {NIM_ADD}},
        {"modify: retried with the same call", NIM_MODIFY, {busy, busy, ok}, 0, true, 2, {NIM_MODIFY, NIM_MODIFY, NIM_MODIFY}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        FakeShell::Reset();
        FakeShell::answers.assign(row.answers.begin(), row.answers.end());
        TUxTrayIcon t(nullptr);
        t.SetVisibility(DefaultTrayVisibility | row.extra);
        EXPECT_EQ(t.CallShellNotify(0, row.message), row.expect);
        EXPECT_EQ(FakeShell::sleeps, row.sleeps);
        std::vector<DWORD> seq;
        for (const auto& c : FakeShell::calls) seq.push_back(c.Message);
        EXPECT_EQ(seq, row.sequence);
    }
    // A shell that never answers: 31 waits, then failure.
    FakeShell::Reset();
    for (int i = 0; i < 200; ++i) FakeShell::answers.push_back(quiet);
    TUxTrayIcon t(nullptr);
    EXPECT_FALSE(t.CallShellNotify(0, NIM_MODIFY));
    EXPECT_EQ(FakeShell::sleeps, 31);
    // A failed add leaves the icon absent.
    FakeShell::Reset();
    FakeShell::answers.push_back(denied);
    TUxTrayIcon u(nullptr);
    u.SetActive(true);
    EXPECT_FALSE(u.IconAdded());
}

TEST_F(Tray, BalloonsAreCountedAndHiddenWithOneEmptyBalloonMore) {
    tray->SetActive(true);
    FakeShell::calls.clear();
    int shown = 0;
    tray->OnBalloonShow = [&](TComponent*) { ++shown; };
    tray->ShowBalloon("Low battery", "15% left", TBalloonType::btWarning, 20000, false);
    ASSERT_EQ(FakeShell::calls.size(), 1u);
    const auto& c = FakeShell::calls[0].Data;
    EXPECT_EQ(FakeShell::calls[0].Message, DWORD(NIM_MODIFY));
    EXPECT_EQ(c.uFlags, UINT(NIF_INFO));
    EXPECT_STREQ(c.szInfoTitle, "Low battery");
    EXPECT_STREQ(c.szInfo, "15% left");
    EXPECT_EQ(c.uTimeout, 20000u);
    EXPECT_EQ(c.dwInfoFlags, DWORD(NIIF_WARNING));
    tray->ShowBalloon("Second", "", TBalloonType::btError, 20000, false);
    EXPECT_EQ(FakeShell::calls.back().Data.dwInfoFlags, DWORD(NIIF_ERROR));
    EXPECT_EQ(tray->BalloonCount(), 2);
    EXPECT_EQ(shown, 2);
    FakeShell::calls.clear();
    tray->HideBalloon();
    EXPECT_EQ(FakeShell::calls.size(), 3u) << "count 2: three empty balloons";
    for (const auto& call : FakeShell::calls) EXPECT_STREQ(call.Data.szInfo, "");
    EXPECT_EQ(tray->BalloonCount(), 0);
    // A short balloon hides itself on timer 2.
    tray->ShowBalloon("Quick", "note", TBalloonType::btInfo, 100, false);
    EXPECT_EQ(tray->BalloonCount(), 1);
    EXPECT_TRUE(PumpUntil([&] { return tray->BalloonCount() == 0; }, 3000));
}

TEST_F(Tray, RightClickOpensTheMenuAndDoubleClickRunsTheDefaultItem) {
    tray->SetActive(true);
    EndMenusWhenOpened();
    Notice(WM_LBUTTONDOWN);
    Notice(WM_LBUTTONUP);
    EXPECT_EQ(popups, 0) << "a single left click with only a popup menu does nothing";
    EXPECT_FALSE(tray->ClickPending());
    Notice(WM_RBUTTONDOWN);
    Notice(WM_RBUTTONUP);
    Notice(WM_CONTEXTMENU);
    EXPECT_EQ(popups, 1);
    POINT cursor;
    GetCursorPos(&cursor);
    EXPECT_EQ(menu->PopupPoint().x, cursor.x);
    EXPECT_EQ(menu->PopupPoint().y, cursor.y);
    Notice(WM_LBUTTONDBLCLK);
    EXPECT_EQ(shows, 1) << "the default item, Show";
    bool handled = false;
    tray->OnContextPopup = [&](TComponent*, POINT, bool& h) {
        h = true;
        handled = true;
    };
    Notice(WM_CONTEXTMENU);
    EXPECT_TRUE(handled);
    EXPECT_EQ(popups, 1) << "a handled context popup shows no menu";
}

TEST_F(Tray, ClickWaitsForTheDoubleClickTimeWhenADoubleClickIsWanted) {
    tray->SetActive(true);
    int clicks = 0, doubles = 0;
    tray->OnClick = [&](TComponent*, TMouseButton, unsigned, int, int) { ++clicks; };
    tray->OnDblClick = [&](TComponent*, TMouseButton, unsigned, int, int) { ++doubles; };
    Notice(WM_LBUTTONDOWN);
    Notice(WM_LBUTTONUP);
    EXPECT_TRUE(tray->ClickPending());
    EXPECT_EQ(clicks, 0);
    EXPECT_TRUE(PumpUntil([&] { return clicks == 1; }, GetDoubleClickTime() + 2000));
    Notice(WM_LBUTTONDOWN);
    Notice(WM_LBUTTONUP);
    Notice(WM_LBUTTONDBLCLK);
    EXPECT_FALSE(tray->ClickPending()) << "the double click cancels the single one";
    PumpFor(GetDoubleClickTime() + 100);
    EXPECT_EQ(clicks, 1);
    EXPECT_EQ(doubles, 1);
    EXPECT_EQ(shows, 0) << "with OnDblClick assigned only that event runs";
}

TEST_F(Tray, TaskbarCreatedAfterABalloonReAddsWithTheRealVersionAndRightClicksStillWork) {
    tray->SetActive(true);
    tray->ShowBalloon("Title", "Text", TBalloonType::btInfo, 30000, false);
    FakeShell::calls.clear();
    // The new shell knows nothing of our icon: removal fails, as it would.
    FakeShell::answers = {{FALSE, 0}, {FALSE, 0}};
    SendMessageA(tray->WindowHandle(), TaskbarCreatedMessage(), 0, 0);
    std::vector<DWORD> seq;
    for (const auto& c : FakeShell::calls) seq.push_back(c.Message);
    EXPECT_EQ(seq, (std::vector<DWORD>{NIM_DELETE, NIM_MODIFY, NIM_ADD, NIM_SETVERSION}));
    EXPECT_EQ(FakeShell::calls.back().Data.uVersion, UINT(NOTIFYICON_VERSION)) << "not the balloon's 30000";
    EXPECT_TRUE(tray->IconAdded());
    EndMenusWhenOpened();
    Notice(WM_CONTEXTMENU);
    EXPECT_EQ(popups, 1);
}

TEST_F(Tray, EndSessionRemovesAndCancelledEndSessionReAdds) {
    tray->SetActive(true);
    SendMessageA(tray->WindowHandle(), WM_ENDSESSION, TRUE, 0);
    EXPECT_FALSE(tray->IconAdded());
    SendMessageA(tray->WindowHandle(), WM_ENDSESSION, FALSE, 0);
    EXPECT_TRUE(tray->IconAdded());
}

TEST_F(Tray, AnimationWalksTheImageListAndSwings) {
    TImageList list(nullptr, 16, 16);
    TBitmap b(16, 16);
    for (int i = 0; i < 3; ++i) list.Add(b, nullptr);
    tray->SetIcons(&list);
    tray->SetDelay(20);
    tray->SwingForthAndBack = true;
    std::vector<int> seen;
    tray->OnAnimate = [&](TComponent*, int index) { seen.push_back(index); };
    tray->SetAnimated(true);
    tray->SetActive(true);
    ASSERT_TRUE(PumpUntil([&] { return seen.size() >= 6; }, 3000));
    tray->SetAnimated(false);
    EXPECT_EQ(std::vector<int>(seen.begin(), seen.begin() + 6), (std::vector<int>{1, 2, 1, 0, 1, 2}));
}

TEST_F(Tray, MinimiseGoesToTheTrayAndShowRestoresWindowAndTaskbarButton) {
    TForm main(nullptr);
    main.SetCaption("Main");
    Application().SetMainForm(&main);
    main.Show();
    PumpFor(50);
    HWND app = Application().Handle();
    show->OnClick = [&](TComponent*) { tray->RestoreFromTray(); };
    tray->SetActive(true);
    // Minimising from the taskbar: the system adds its own low bits to the command.
    SendMessageA(app, WM_SYSCOMMAND, SC_MINIMIZE | 0x0002, 0);
    EXPECT_FALSE(IsWindowVisible(app)) << "no taskbar button";
    EXPECT_FALSE(IsWindowVisible(main.Handle()));
    EXPECT_FALSE(tray->Visibility() & TrayVis(tvVisibleTaskBar));
    EXPECT_FALSE(tray->ApplicationVisible());
    Notice(WM_LBUTTONDBLCLK);  // the default item "Show"
    EXPECT_TRUE(IsWindowVisible(app));
    EXPECT_FALSE(IsIconic(app));
    EXPECT_TRUE(IsWindowVisible(main.Handle()));
    EXPECT_TRUE(tray->Visibility() & TrayVis(tvVisibleTaskBar));
    tray->SetActive(false);
    Application().ShowMainForm = true;
    Application().SetMainForm(nullptr);
}

TEST(TrayRealShell, WineShellAcceptsOrRefusesWithoutHanging) {
    TrayShell() = RealTrayShell();
    TUxTrayIcon t(nullptr);
    t.SetVisibility(DefaultTrayVisibility | TrayVis(tvNoRetryOnFailure));
    t.SetHint("VoltAtlas test");
    const ULONGLONG start = GetTickCount64();
    t.SetActive(true);
    EXPECT_LT(GetTickCount64() - start, 5000u);
    if (t.IconAdded()) {
        t.ShowBalloon("VoltAtlas", "Balloon through the real shell", TBalloonType::btInfo, 3000, false);
        t.SetActive(false);
        EXPECT_FALSE(t.IconAdded()) << "the real shell removed the icon it had added";
    }
    RecordProperty("RealShellAdded", t.IconAdded() ? "yes" : "no");
}

}  // namespace
