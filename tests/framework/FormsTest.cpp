// Forms, standard controls, menus, timers and the application object under real windows.
#include <gtest/gtest.h>

#include <cstdlib>
#include <thread>

#include "framework/Forms.h"
#include "framework/StdCtrls.h"
#include "framework/Timer.h"
#include "support/Pump.h"

using namespace framework;
using testsupport::PumpFor;
using testsupport::PumpUntil;

namespace {

// A small form built in code, as the program's forms are.
class TTestForm : public TForm {
public:
    explicit TTestForm(TComponent* owner) : TForm(owner) {
        SetCaption("Test form");
        BorderStyle = TFormBorderStyle::bsSingle;
        BorderIcons = biSystemMenu | biMinimize;
        Position = TPosition::poScreenCenter;
        grp = std::make_unique<TGroupBox>(this);
        grp->SetName("grp");
        grp->SetCaption("Group");
        grp->SetBounds(8, 8, 200, 80);
        grp->SetParent(this);
        btn = std::make_unique<TButton>(this);
        btn->SetName("btn");
        btn->SetCaption("Press");
        btn->SetBounds(10, 20, 75, 25);
        btn->SetParent(grp.get());
        chk = std::make_unique<TCheckBox>(this);
        chk->SetCaption("Check");
        chk->SetBounds(10, 50, 100, 17);
        chk->SetParent(grp.get());
        menu = std::make_unique<TMainMenu>(this);
        file = std::make_unique<TMenuItem>(this);
        file->SetCaption("&File");
        quit = std::make_unique<TMenuItem>(this);
        quit->SetCaption("&Quit");
        quit->SetShortCut(ShortCut('Q', scCtrl));
        menu->Items().Add(file.get());
        file->Add(quit.get());
        SetMenu(menu.get());
        SetClientSize(300, 200);
    }
    std::unique_ptr<TGroupBox> grp;
    std::unique_ptr<TButton> btn;
    std::unique_ptr<TCheckBox> chk;
    std::unique_ptr<TMainMenu> menu;
    std::unique_ptr<TMenuItem> file, quit;
};

TEST(Forms, ClientSizeIsExactBelowTheMenuBar) {
    TTestForm f(nullptr);
    f.Show();
    RECT c;
    GetClientRect(f.Handle(), &c);
    EXPECT_EQ(c.right, 300);
    EXPECT_EQ(c.bottom, 200);
    EXPECT_NE(GetMenu(f.Handle()), nullptr);
    EXPECT_EQ(GetWindow(f.Handle(), GW_OWNER), Application().Handle()) << "forms are owned by the application window";
}

// A form's window is made with its menu bar, its size, its first place and (through its class)
// the program's icon: between its creation and its showing it is neither moved, resized,
// given its frame anew nor an icon of its own (each costs the display driver a round of its
// own while the program starts).
class TWatchedForm : public TTestForm {
public:
    using TTestForm::TTestForm;
    int framesChanged = 0, moves = 0, resizes = 0, iconsSet = 0;

protected:
    void WndProc(TMessage& m) override {
        if (m.Msg == WM_WINDOWPOSCHANGED) {
            const auto* wp = reinterpret_cast<const WINDOWPOS*>(m.LParam);
            if (wp->flags & SWP_FRAMECHANGED) ++framesChanged;
            if (!(wp->flags & SWP_NOMOVE) && (wp->x != Left() || wp->y != Top())) ++moves;
            if (!(wp->flags & SWP_NOSIZE)) ++resizes;
        }
        if (m.Msg == WM_SETICON) ++iconsSet;
        TTestForm::WndProc(m);
    }
};

TEST(Forms, FormIsMadeWithItsMenuSizeAndPlace) {
    TWatchedForm f(nullptr);
    f.Show();
    EXPECT_EQ(f.framesChanged, 0);
    EXPECT_EQ(f.moves, 0);
    EXPECT_EQ(f.resizes, 0);
    EXPECT_EQ(f.iconsSet, 0);
    for (HWND wnd : {f.Handle(), Application().Handle()})
        EXPECT_EQ(reinterpret_cast<HICON>(GetClassLongPtrA(wnd, GCLP_HICON)), Application().Icon());
    RECT c, w, area;
    GetClientRect(f.Handle(), &c);
    EXPECT_EQ(c.right, 300);
    EXPECT_EQ(c.bottom, 200);
    EXPECT_EQ(GetMenu(f.Handle()), f.menu->Handle());
    // Centred on the work area, as poScreenCenter asks.
    GetWindowRect(f.Handle(), &w);
    SystemParametersInfoA(SPI_GETWORKAREA, 0, &area, 0);
    EXPECT_LE(std::abs((w.left + w.right) - (area.left + area.right)), 1);
    EXPECT_LE(std::abs((w.top + w.bottom) - (area.top + area.bottom)), 1);
    f.Hide();
}

TEST(Forms, MenuDestroyedBeforeItsFormLeavesTheFormWithoutOne) {
    TTestForm f(nullptr);
    f.HandleNeeded();
    f.quit.reset();
    f.file.reset();
    f.menu.reset();
    EXPECT_EQ(f.Menu(), nullptr);
    EXPECT_EQ(GetMenu(f.Handle()), nullptr);
}

TEST(Forms, ButtonClickInsideGroupBoxIsReflectedToOnClick) {
    TTestForm f(nullptr);
    int clicks = 0;
    f.btn->OnClick = [&](TComponent* s) {
        EXPECT_EQ(s, f.btn.get());
        ++clicks;
    };
    f.Show();
    SendMessageA(f.btn->Handle(), BM_CLICK, 0, 0);
    EXPECT_EQ(clicks, 1);
    int chkClicks = 0;
    f.chk->OnClick = [&](TComponent*) { ++chkClicks; };
    SendMessageA(f.chk->Handle(), BM_CLICK, 0, 0);
    EXPECT_EQ(chkClicks, 1);
    EXPECT_TRUE(f.chk->Checked());
    f.chk->SetChecked(false);
    EXPECT_EQ(chkClicks, 1) << "a state set from code is no click";
    EXPECT_FALSE(f.chk->Checked());
}

TEST(Forms, MenuCommandAndShortcutRunTheItem) {
    TTestForm f(nullptr);
    int quits = 0;
    f.quit->OnClick = [&](TComponent*) { ++quits; };
    f.Show();
    SendMessageA(f.Handle(), WM_COMMAND, MAKEWPARAM(f.quit->Command(), 0), 0);
    EXPECT_EQ(quits, 1);
    char text[64] = {};
    GetMenuStringA(GetMenu(f.Handle()), f.quit->Command(), text, sizeof text, MF_BYCOMMAND);
    EXPECT_STREQ(text, "&Quit\tCtrl+Q");
    EXPECT_TRUE(f.menu->IsShortCut(ShortCut('Q', scCtrl)));
    EXPECT_EQ(quits, 2);
    f.quit->SetEnabled(false);
    EXPECT_FALSE(f.menu->IsShortCut(ShortCut('Q', scCtrl)));
    EXPECT_EQ(GetMenuState(GetMenu(f.Handle()), f.quit->Command(), MF_BYCOMMAND) & MF_GRAYED, UINT(MF_GRAYED));
}

TEST(Forms, ModalFormEndsWithTheButtonsModalResultAndEscCancels) {
    TTestForm f(nullptr);
    f.btn->SetModalResult(mrOk);
    // Press the button from inside the modal loop.
    SetTimer(nullptr, 0, 50, [](HWND, UINT, UINT_PTR id, DWORD) {
        KillTimer(nullptr, id);
        HWND active = GetActiveWindow();
        auto* form = dynamic_cast<TTestForm*>(TWinControl::FromHandle(active));
        if (form) SendMessageA(form->btn->Handle(), BM_CLICK, 0, 0);
    });
    EXPECT_EQ(f.ShowModal(), mrOk);
    EXPECT_FALSE(IsWindowVisible(f.Handle()));

    TButton cancel(&f);
    cancel.SetCancel(true);
    cancel.SetModalResult(mrCancel);
    cancel.SetParent(&f);
    SetTimer(nullptr, 0, 50, [](HWND, UINT, UINT_PTR id, DWORD) {
        KillTimer(nullptr, id);
        // Esc as IsDialogMessage turns it into a command.
        SendMessageA(GetActiveWindow(), WM_COMMAND, IDCANCEL, 0);
    });
    EXPECT_EQ(f.ShowModal(), mrCancel);
}

TEST(Forms, MinimizeHidesTheFormsWithTheApplicationAndRestoreBringsThemBack) {
    TTestForm f(nullptr);
    Application().SetMainForm(&f);
    f.Show();
    PumpFor(50);
    HWND app = Application().Handle();
    EXPECT_TRUE(IsWindowVisible(app)) << "the application window carries the taskbar button";
    // The main form's minimise box minimises the application.
    SendMessageA(f.Handle(), WM_SYSCOMMAND, SC_MINIMIZE | 2, 0);
    EXPECT_TRUE(IsIconic(app));
    EXPECT_FALSE(IsWindowVisible(f.Handle()));
    Application().Restore();
    EXPECT_FALSE(IsIconic(app));
    EXPECT_TRUE(IsWindowVisible(f.Handle()));
    Application().SetMainForm(nullptr);
}

TEST(Forms, HookSeesApplicationMessagesAndActivateOnceHandlerUnhooksItself) {
    int seen = 0;
    const int id = Application().HookMainWindow([&](TMessage& m) {
        if (m.Msg == WM_USER + 77) {
            ++seen;
            m.Result = 42;
            return true;
        }
        return false;
    });
    EXPECT_EQ(SendMessageA(Application().Handle(), WM_USER + 77, 0, 0), 42);
    Application().UnhookMainWindow(id);
    SendMessageA(Application().Handle(), WM_USER + 77, 0, 0);
    EXPECT_EQ(seen, 1);

    TApplicationEvents evt(nullptr);
    int activations = 0;
    evt.OnActivate = [&](TComponent*) {
        evt.OnActivate = nullptr;  // first activation only
        ++activations;
    };
    SendMessageA(Application().Handle(), WM_ACTIVATEAPP, TRUE, 0);
    SendMessageA(Application().Handle(), WM_ACTIVATEAPP, TRUE, 0);
    EXPECT_EQ(activations, 1);
}

TEST(Forms, ExceptionInAHandlerReachesTheApplicationHandler) {
    TTestForm f(nullptr);
    std::string caught;
    Application().OnException = [&](const std::exception& e) { caught = e.what(); };
    f.btn->OnClick = [](TComponent*) { throw Exception("boom"); };
    f.Show();
    SendMessageA(f.btn->Handle(), BM_CLICK, 0, 0);
    Application().OnException = nullptr;
    EXPECT_EQ(caught, "boom");
}

TEST(Timer, TicksInTheMessageLoopUntilDisabled) {
    TTimer t(nullptr);
    t.SetInterval(20);
    int ticks = 0;
    t.OnTimer = [&](TComponent*) {
        if (++ticks == 3) t.SetEnabled(false);
    };
    EXPECT_TRUE(PumpUntil([&] { return ticks >= 3; }, 3000));
    PumpFor(100);
    EXPECT_EQ(ticks, 3);
}

// Top-level windows of this thread (message-only windows are not among them).
int ThreadTopLevelWindows() {
    int count = 0;
    EnumThreadWindows(GetCurrentThreadId(), [](HWND, LPARAM p) { return ++*reinterpret_cast<int*>(p), TRUE; },
                      reinterpret_cast<LPARAM>(&count));
    return count;
}

// A timer ticks on a message-only window: a hidden top-level one would cost the display
// driver a window of its own at every start.
TEST(Timer, AddsNoTopLevelWindow) {
    const int before = ThreadTopLevelWindows();
    TTimer t(nullptr);
    t.SetInterval(10);
    EXPECT_EQ(ThreadTopLevelWindows(), before);
    int ticks = 0;
    t.OnTimer = [&](TComponent*) { ++ticks; };
    EXPECT_TRUE(PumpUntil([&] { return ticks >= 1; }, 3000));
}

// A control with a frame gets it painted when its form shows; one whose client area fills
// its window has nothing outside it to paint.
class TFramedControl : public TWinControl {
public:
    using TWinControl::TWinControl;

protected:
    void CreateParams(TCreateParams& p) override {
        TWinControl::CreateParams(p);
        p.Style |= WS_BORDER;
    }
};

TEST(Controls, AFramedControlGetsItsFramePaintedAtShow) {
    TTestForm f(nullptr);
    f.SetColor(clWhite);
    TFramedControl framed(&f);
    framed.SetBounds(220, 20, 60, 40);
    framed.SetColor(clWhite);
    framed.SetParent(&f);
    f.Show();
    PumpFor(200);
    HDC dc = GetWindowDC(framed.Handle());
    const COLORREF edge = GetPixel(dc, 0, 0), inside = GetPixel(dc, 30, 20);
    ReleaseDC(framed.Handle(), dc);
    EXPECT_EQ(inside, RGB(255, 255, 255));
    EXPECT_EQ(edge, ColorToRGB(clWindowFrame)) << std::hex << edge;
    f.Hide();
}

TEST(Controls, FontAndColourFollowTheParentUntilSetOwn) {
    TTestForm f(nullptr);
    TLabel label(&f);
    label.SetParent(&f);
    EXPECT_EQ(label.Font().Name(), "MS Sans Serif");
    f.Font().SetStyle(fsBold);
    EXPECT_EQ(label.Font().Style(), unsigned(fsBold));
    label.Font().SetColor(clWhite);
    f.Font().SetStyle(0);
    EXPECT_EQ(label.Font().Style(), unsigned(fsBold)) << "a label with a font of its own keeps it";
    f.SetColor(clRed);
    EXPECT_EQ(label.Color(), clRed);
}

// Layout checks measure a caption with the font the window reports: our own window classes
// report the font they paint with, as the system's controls do.
TEST(Controls, EveryWindowAnswersWithTheFontItDrawsWith) {
    TTestForm f(nullptr);
    TLabel label(&f);
    label.SetParent(&f);
    label.SetParentFont(false);
    label.Font().SetSize(14);
    f.HandleNeeded();
    for (TWinControl* c : {static_cast<TWinControl*>(&label), static_cast<TWinControl*>(f.grp.get()),
                           static_cast<TWinControl*>(f.btn.get())}) {
        const auto font = reinterpret_cast<HFONT>(SendMessageA(c->Handle(), WM_GETFONT, 0, 0));
        EXPECT_EQ(font, c->Font().Handle()) << c->Name();
    }
}

// Every message finds its control from the window handle: a handle is the control's from its
// window's creation to its destruction, whoever destroys it, and no other window's.
TEST(Controls, AHandleLeadsToItsControlOnlyWhileTheWindowLives) {
    TTestForm f(nullptr);
    TLabel label(&f);
    label.SetParent(&f);
    f.HandleNeeded();
    // Our own classes and the subclassed system ones (the group box and button are BUTTONs).
    for (TWinControl* c : {static_cast<TWinControl*>(&f), static_cast<TWinControl*>(&label),
                           static_cast<TWinControl*>(f.grp.get()), static_cast<TWinControl*>(f.btn.get())})
        EXPECT_EQ(TWinControl::FromHandle(c->Handle()), c) << c->Name();
    EXPECT_EQ(TWinControl::FromHandle(nullptr), nullptr);
    HWND foreign = CreateWindowExA(0, "STATIC", "", WS_CHILD, 0, 0, 10, 10, f.Handle(), nullptr, nullptr, nullptr);
    ASSERT_TRUE(foreign);
    EXPECT_EQ(TWinControl::FromHandle(foreign), nullptr);
    DestroyWindow(foreign);

    // Made anew: the old handle leads nowhere, the new one to the same control.
    HWND old = f.btn->Handle();
    f.btn->RecreateWnd();
    EXPECT_FALSE(IsWindow(old));
    EXPECT_EQ(TWinControl::FromHandle(old), nullptr);
    EXPECT_EQ(TWinControl::FromHandle(f.btn->Handle()), f.btn.get());

    // Destroyed behind the control's back.
    old = label.Handle();
    DestroyWindow(old);
    EXPECT_FALSE(label.HandleAllocated());
    EXPECT_EQ(TWinControl::FromHandle(old), nullptr);

    // Freed with its control, and looked up from another thread while the form lives.
    old = f.chk->Handle();
    f.chk.reset();
    EXPECT_EQ(TWinControl::FromHandle(old), nullptr);
    TWinControl* fromThread = nullptr;
    std::thread([&] { fromThread = TWinControl::FromHandle(f.Handle()); }).join();
    EXPECT_EQ(fromThread, &f);
}

TEST(Controls, HintShowAsksTheControlForColour) {
    TTestForm f(nullptr);
    f.SetShowHint(true);
    f.btn->SetHint("Short|Long text");
    EXPECT_TRUE(f.btn->ShowHint());
    EXPECT_EQ(GetShortHint(f.btn->Hint()), "Short");
    EXPECT_EQ(GetLongHint(f.btn->Hint()), "Long text");
}

}  // namespace
