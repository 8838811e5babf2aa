// ShowMessage: the plain message dialog (the application's title as caption, one OK
// button), owned by the active window of this thread so it stays on top of the program.
#pragma once

#include <string>

namespace framework {

void ShowMessage(const std::string& text);

}  // namespace framework
