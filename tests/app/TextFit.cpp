#include "TextFit.h"

#include <windows.h>

#include <algorithm>

#include "components/UxImgBtn.h"
#include "framework/StdCtrls.h"

using namespace framework;

namespace testsupport {

namespace {

// A group box draws its caption between 7 pixels in from either side.
constexpr int kGroupCaptionInset = 7;
// A push button's frame and the air inside it, on each side.
constexpr int kButtonInset = 4;
// The content rectangle of an image button lies this far inside its client area.
constexpr int kImgBtnInset = 4;

SIZE Extent(HWND wnd, HFONT font, const std::string& text) {
    HDC dc = GetDC(wnd);
    HGDIOBJ old = SelectObject(dc, font);
    SIZE s{0, 0};
    GetTextExtentPoint32A(dc, text.data(), static_cast<int>(text.size()), &s);
    SelectObject(dc, old);
    ReleaseDC(wnd, dc);
    return s;
}

// The check mark's square and the gap the system leaves before the text.
int CheckBoxIndent(HWND wnd, HFONT font) {
    HDC dc = GetDC(wnd);
    HGDIOBJ old = SelectObject(dc, font);
    TEXTMETRICA tm{};
    GetTextMetricsA(dc, &tm);
    SelectObject(dc, old);
    ReleaseDC(wnd, dc);
    return GetSystemMetrics(SM_CXMENUCHECK) + std::max<int>(tm.tmAveCharWidth / 2, 3) + 1;
}

// The lines a word-wrapping drawing breaks Text into within Width: greedy, at blanks.
std::vector<std::string> WrapLines(HWND wnd, HFONT font, const std::string& text, int width) {
    std::vector<std::string> lines;
    std::string line;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find(' ', pos + 1);
        if (end == std::string::npos) end = text.size();
        const std::string word = text.substr(pos, end - pos);  // with its leading blank, if any
        if (!line.empty() && Extent(wnd, font, line + word).cx > width) {
            lines.push_back(line);
            line = word.substr(word.find_first_not_of(' ') == std::string::npos ? word.size()
                                                                                 : word.find_first_not_of(' '));
        } else {
            line += word;
        }
        pos = end;
    }
    if (!line.empty() || lines.empty()) lines.push_back(line);
    return lines;
}

}  // namespace

CaptionFit FitOf(TWinControl& c, const std::string* text) {
    CaptionFit fit;
    fit.name = c.Name();
    fit.text = text ? *text : c.Caption();
    HWND wnd = c.Handle();
    const RECT client = c.ClientRect();
    const int w = client.right - client.left, h = client.bottom - client.top;
    HFONT font = reinterpret_cast<HFONT>(SendMessageA(wnd, WM_GETFONT, 0, 0));
    if (auto* btn = dynamic_cast<TUxImgBtn*>(&c)) {
        font = btn->Font().Handle();  // the drawing copies this font onto its canvas
        int room = w - 2 * kImgBtnInset;
        if (btn->ImageVisible() && btn->Images() && btn->ImageIndex() >= 0)
            room -= btn->Images()->Width() - 1 + btn->Spacing();  // the image's rectangle ends on its last pixel
        if (btn->Alignment() != TAlignment::taCenter && btn->Margin() > 0) room -= btn->Margin();
        fit.box = SIZE{room, h - 2 * kImgBtnInset};
    } else if (dynamic_cast<TGroupBox*>(&c)) {
        fit.box = SIZE{w - 2 * kGroupCaptionInset, h};
    } else if (dynamic_cast<TCheckBox*>(&c)) {
        fit.box = SIZE{w - CheckBoxIndent(wnd, font), h};
    } else if (dynamic_cast<TButton*>(&c)) {
        fit.box = SIZE{w - 2 * kButtonInset, h - 2 * kButtonInset};
    } else {
        fit.box = SIZE{w, h};
    }
    if (!font) font = static_cast<HFONT>(GetStockObject(SYSTEM_FONT));  // what a window without one draws with
    auto* wrapping = dynamic_cast<TUxImgBtn*>(&c);
    if (!wrapping || !wrapping->WordWrap()) {
        fit.needed = Extent(wnd, font, fit.text);
        return fit;
    }
    // A word-wrapping image button may show its value on more lines, if they fit one above another.
    for (const std::string& line : WrapLines(wnd, font, fit.text, fit.box.cx)) {
        const SIZE s = Extent(wnd, font, line);
        fit.needed.cx = std::max(fit.needed.cx, s.cx);
        fit.needed.cy += s.cy;
    }
    return fit;
}

std::vector<std::string> Overflows(const std::vector<CaptionFit>& fits) {
    std::vector<std::string> out;
    for (const CaptionFit& f : fits)
        if (!f.Fits())
            out.push_back(f.name + " \"" + f.text + "\" needs " + std::to_string(f.needed.cx) + " x " +
                          std::to_string(f.needed.cy) + ", has " + std::to_string(f.box.cx) + " x " +
                          std::to_string(f.box.cy));
    return out;
}

}  // namespace testsupport
