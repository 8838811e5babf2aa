#include "app/MsgDlg.h"

int32_t MsgBox(HWND Window, const std::string& Text, int32_t Buttons, int32_t Kind) {
    UINT flags = MB_OK;
    switch (Buttons) {
        case 1: flags = MB_YESNO; break;
        case 2: flags = MB_YESNOCANCEL; break;
        case 3: flags = MB_OKCANCEL; break;
        default: break;
    }
    const char* caption = "";
    switch (Kind) {
        case 0: caption = "Message"; break;
        case 1: caption = "Warning"; flags |= MB_ICONWARNING; break;
        case 2: caption = "Error"; flags |= MB_ICONERROR; break;
        case 3: caption = "Question"; flags |= MB_ICONQUESTION; break;
        case 4: caption = "Information"; flags |= MB_ICONINFORMATION; break;
        default: break;
    }
    return MessageBoxA(Window, Text.c_str(), caption, flags);
}

int32_t MsgQuestion(HWND Window, const std::string& Text) { return MsgBox(Window, Text, 1, 3); }
