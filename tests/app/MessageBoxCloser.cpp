#include "MessageBoxCloser.h"

#include <windows.h>

#include <algorithm>
#include <vector>

namespace testsupport {

namespace {
MessageBoxCloser* g_closer = nullptr;
UINT_PTR g_timer = 0;

struct Inspection {
    MessageBoxCloser::Box box;
    HWND answerButton = nullptr;
    int answer = IDOK;
};

BOOL CALLBACK InspectChild(HWND child, LPARAM param) {
    auto& in = *reinterpret_cast<Inspection*>(param);
    char cls[32] = {};
    GetClassNameA(child, cls, sizeof cls);
    const LONG style = GetWindowLongA(child, GWL_STYLE);
    if (lstrcmpiA(cls, "Button") == 0 && IsWindowVisible(child)) {
        const int id = GetDlgCtrlID(child);
        in.box.buttons.push_back(id);
        if (id == in.answer) in.answerButton = child;
    } else if (lstrcmpiA(cls, "Static") == 0 && (style & SS_TYPEMASK) == SS_ICON && IsWindowVisible(child)) {
        in.box.icon = reinterpret_cast<HICON>(SendMessageA(child, STM_GETICON, 0, 0));
    }
    return TRUE;
}

BOOL CALLBACK CloseIfMessageBox(HWND wnd, LPARAM) {
    char cls[32] = {};
    GetClassNameA(wnd, cls, sizeof cls);
    if (lstrcmpA(cls, "#32770") != 0 || !IsWindowVisible(wnd)) return TRUE;
    static std::vector<HWND> closed;  // a box stays visible until our answer reaches it
    // A handle of a box that is gone may come back for a new one.
    closed.erase(std::remove_if(closed.begin(), closed.end(), [](HWND c) { return !IsWindow(c); }), closed.end());
    for (HWND c : closed)
        if (c == wnd) return TRUE;
    closed.push_back(wnd);
    Inspection in;
    in.answer = g_closer ? g_closer->answer : IDOK;
    char text[512] = {};
    GetDlgItemTextA(wnd, 0xFFFF, text, sizeof text);  // the message box's text control
    in.box.text = text;
    GetWindowTextA(wnd, text, sizeof text);
    in.box.caption = text;
    EnumChildWindows(wnd, InspectChild, reinterpret_cast<LPARAM>(&in));
    std::sort(in.box.buttons.begin(), in.box.buttons.end());
    if (g_closer) {
        g_closer->texts.push_back(in.box.text);
        g_closer->boxes.push_back(in.box);
    }
    // Press the button itself; a box without it gets the OK command.
    if (in.answerButton)
        PostMessageA(in.answerButton, BM_CLICK, 0, 0);
    else
        PostMessageA(wnd, WM_COMMAND, IDOK, 0);
    return TRUE;
}

// A thread timer ticks inside any modal loop of the thread, the message box's included.
void CALLBACK Tick(HWND, UINT, UINT_PTR, DWORD) {
    EnumThreadWindows(GetCurrentThreadId(), CloseIfMessageBox, 0);
}
}  // namespace

MessageBoxCloser::MessageBoxCloser() {
    g_closer = this;
    g_timer = SetTimer(nullptr, 0, 30, Tick);
}

MessageBoxCloser::~MessageBoxCloser() {
    KillTimer(nullptr, g_timer);
    g_closer = nullptr;
}

}  // namespace testsupport
