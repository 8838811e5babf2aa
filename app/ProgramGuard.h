// The guard around the program body: whatever escapes the creation of the windows or the
// message loop is shown to the user, when a window can be shown, and ends the program with
// a non-zero exit code instead of terminate. GUI thread.
#pragma once

#include <functional>
#include <string>

// The exit code of a program ended by an error that reached the guard.
inline constexpr int kFatalExitCode = 1;

// Runs Body and returns its exit code; an exception that escapes it is reported
// (ShowFatalError) and gives kFatalExitCode.
int RunGuarded(const std::function<int()>& Body);

// Shows Text in an error message box when this process can show windows (its window
// station is visible); otherwise hands it to the debugger's output only.
void ShowFatalError(const std::string& Text);

// This process's window station is the interactive, visible one.
bool CanShowWindows();
