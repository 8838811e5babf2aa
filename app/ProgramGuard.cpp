#include "app/ProgramGuard.h"

#include <windows.h>

#include <exception>

#include "app/MainDlg.h"

bool CanShowWindows() {
    HWINSTA station = GetProcessWindowStation();
    if (!station) return false;
    USEROBJECTFLAGS flags{};
    if (!GetUserObjectInformationA(station, UOI_FLAGS, &flags, sizeof flags, nullptr)) return false;
    return (flags.dwFlags & WSF_VISIBLE) != 0;
}

void ShowFatalError(const std::string& Text) {
    OutputDebugStringA((std::string(kTitle) + ": " + Text + "\n").c_str());
    // No owner: the windows the error came from may be gone or half-built.
    if (CanShowWindows()) MessageBoxA(nullptr, Text.c_str(), kTitle, MB_OK | MB_ICONERROR | MB_TASKMODAL);
}

int RunGuarded(const std::function<int()>& Body) {
    try {
        return Body();
    } catch (const std::exception& e) {
        ShowFatalError(e.what());
    } catch (...) {
        ShowFatalError("An unexpected error stopped the program.");
    }
    return kFatalExitCode;
}
