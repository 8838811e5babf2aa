#include "MessageBoxCloser.h"

#include <windows.h>

#include <vector>

namespace testsupport {

namespace {
MessageBoxCloser* g_closer = nullptr;
UINT_PTR g_timer = 0;

BOOL CALLBACK CloseIfMessageBox(HWND wnd, LPARAM) {
    char cls[32] = {};
    GetClassNameA(wnd, cls, sizeof cls);
    if (lstrcmpA(cls, "#32770") != 0 || !IsWindowVisible(wnd)) return TRUE;
    static std::vector<HWND> closed;  // a box stays visible until our OK reaches it
    for (HWND c : closed)
        if (c == wnd) return TRUE;
    closed.push_back(wnd);
    char text[512] = {};
    GetDlgItemTextA(wnd, 0xFFFF, text, sizeof text);  // the message box's text control
    if (g_closer) g_closer->texts.push_back(text);
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
