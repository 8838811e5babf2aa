#include "framework/Dialogs.h"

#include <windows.h>

#include "framework/Forms.h"

namespace framework {

void ShowMessage(const std::string& text) {
    HWND owner = GetActiveWindow();
    if (!owner) owner = Application().Handle();
    MessageBoxA(owner, text.c_str(), Application().Title().c_str(), MB_OK | MB_TASKMODAL);
}

}  // namespace framework
