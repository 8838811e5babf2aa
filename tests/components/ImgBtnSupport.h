// Shared pieces of the image-button tests: a form to host buttons, an image list of solid
// squares, and rendering a button's owner-draw request into a bitmap.
#pragma once

#include <windows.h>

#include <memory>
#include <vector>

#include "components/UxImgBtn.h"
#include "framework/Forms.h"
#include "framework/ImageList.h"

namespace imgbtntest {

// A list of 32 x 32 squares: index i is Colors[i].
std::unique_ptr<framework::TImageList> SquareList(std::initializer_list<framework::TColor> colors, int size = 32);

// Draws the button as its parent's WM_DRAWITEM asks it to, into a bitmap of its size.
std::unique_ptr<framework::TBitmap> Render(TUxImgBtn& button, UINT itemState);

// Pixels of the rectangle equal to the colour.
int CountColor(framework::TBitmap& bmp, const RECT& r, COLORREF color);

// The pixels where two renderings of the same size differ. A drawing test finds what it
// looks for (a caption, a glyph) by comparing against a rendering without it, so it holds
// whatever font the machine draws with.
std::vector<POINT> Differences(framework::TBitmap& a, framework::TBitmap& b);

}  // namespace imgbtntest
