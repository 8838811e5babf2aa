#include "ImgBtnSupport.h"

using namespace framework;

namespace imgbtntest {

std::unique_ptr<TImageList> SquareList(std::initializer_list<TColor> colors, int size) {
    auto list = std::make_unique<TImageList>(nullptr, size, size);
    for (TColor c : colors) {
        TBitmap b(size, size);
        RECT r{0, 0, size, size};
        b.Canvas().Brush().SetColor(c);
        b.Canvas().FillRect(r);
        list->Add(b, nullptr);
    }
    return list;
}

std::unique_ptr<TBitmap> Render(TUxImgBtn& button, UINT itemState) {
    auto bmp = std::make_unique<TBitmap>(button.Width(), button.Height());
    DRAWITEMSTRUCT dis{};
    dis.CtlType = ODT_BUTTON;
    dis.CtlID = static_cast<UINT>(GetDlgCtrlID(button.Handle()));
    dis.itemAction = ODA_DRAWENTIRE;
    dis.itemState = itemState;
    dis.hwndItem = button.Handle();
    dis.hDC = bmp->Canvas().Handle();
    dis.rcItem = RECT{0, 0, button.Width(), button.Height()};
    SendMessageA(GetParent(button.Handle()), WM_DRAWITEM, dis.CtlID, reinterpret_cast<LPARAM>(&dis));
    return bmp;
}

int CountColor(TBitmap& bmp, const RECT& r, COLORREF color) {
    int n = 0;
    for (int y = r.top; y < r.bottom; ++y)
        for (int x = r.left; x < r.right; ++x)
            if (bmp.Canvas().Pixel(x, y) == color) ++n;
    return n;
}

std::vector<POINT> Differences(TBitmap& a, TBitmap& b) {
    std::vector<POINT> out;
    for (int y = 0; y < a.Height(); ++y)
        for (int x = 0; x < a.Width(); ++x)
            if (a.Canvas().Pixel(x, y) != b.Canvas().Pixel(x, y)) out.push_back(POINT{x, y});
    return out;
}

}  // namespace imgbtntest
