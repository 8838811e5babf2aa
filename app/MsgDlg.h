// Message boxes with a caption and an icon chosen by small codes, for the main window's
// questions and notices. GUI thread.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

// Buttons: 0 OK, 1 Yes/No, 2 Yes/No/Cancel, 3 OK/Cancel (another value: OK).
// Kind: 0 "Message", 1 "Warning", 2 "Error", 3 "Question", 4 "Information", each with its
// icon (0 none); another value: empty caption and no icon.
// Returns MessageBoxA's result unchanged (IDYES 6, IDNO 7, IDOK 1, IDCANCEL 2).
int32_t MsgBox(HWND Window, const std::string& Text, int32_t Buttons, int32_t Kind);

// A Yes/No question captioned "Question"; compare the result with IDYES.
int32_t MsgQuestion(HWND Window, const std::string& Text);
