// Whether a control's caption fits the box it is drawn in, measured with the font the
// control really draws with (GetTextExtentPoint32 on the control's own DC): the font the
// window answers WM_GETFONT with, and for an image button the font its drawing uses.
#pragma once

#include <string>
#include <vector>

#include "framework/Controls.h"

namespace testsupport {

// The room a caption has in a control of this kind, and the size it needs there.
struct CaptionFit {
    std::string name, text;
    SIZE needed{0, 0}, box{0, 0};
    bool Fits() const { return needed.cx <= box.cx && needed.cy <= box.cy; }
};

// The control's caption (or Text, when given) against its box: a group box's caption line
// between its side frames, a label's client area, a check box beside its box, a push
// button inside its frame, an image button's content rectangle beside its image (on as
// many lines as fit, when the button wraps words).
CaptionFit FitOf(framework::TWinControl& control, const std::string* text = nullptr);

// One line per caption that does not fit: name, text, size needed and box.
std::vector<std::string> Overflows(const std::vector<CaptionFit>& fits);

}  // namespace testsupport
