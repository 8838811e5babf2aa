#include "framework/ImageList.h"

#include <algorithm>

namespace framework {

TChangeLink::~TChangeLink() {
    if (sender_) sender_->UnRegisterChanges(this);
}

TCustomImageList::TCustomImageList(TComponent* owner, int width, int height)
    : TComponent(owner), width_(width), height_(height) {
    CreateList();
}

TCustomImageList::~TCustomImageList() {
    MarkDestroying();
    for (TChangeLink* l : links_) l->sender_ = nullptr;
    if (list_) ImageList_Destroy(list_);
}

void TCustomImageList::CreateList() {
    if (list_) ImageList_Destroy(list_);
    list_ = GDICheck(ImageList_Create(width_, height_, ILC_COLOR32 | ILC_MASK, 4, 4));
}

void TCustomImageList::SetSize(int width, int height) {
    if (width == width_ && height == height_) return;
    width_ = width, height_ = height;
    CreateList();
    Change();
}

int TCustomImageList::Count() const { return list_ ? ImageList_GetImageCount(list_) : 0; }

void TCustomImageList::Change() {
    auto links = links_;
    for (TChangeLink* l : links)
        if (l->OnChange) l->OnChange(l);
    if (OnChange) OnChange(this);
}

int TCustomImageList::Add(TBitmap& image, TBitmap* mask) {
    if (image.Empty()) return -1;
    // The image list copies the bitmaps; they must not be selected into a DC meanwhile.
    HBITMAP img = image.ReleaseHandle();
    HBITMAP msk = mask && !mask->Empty() ? mask->ReleaseHandle() : nullptr;
    const int index = ImageList_Add(list_, img, msk);
    image.SetHandle(img);
    if (msk) mask->SetHandle(msk);
    if (index >= 0) Change();
    return index;
}

int TCustomImageList::AddMasked(TBitmap& image, TColor maskColor) {
    if (image.Empty()) return -1;
    HBITMAP img = image.ReleaseHandle();
    const int index = ImageList_AddMasked(list_, img, ColorToRGB(maskColor));
    image.SetHandle(img);
    if (index >= 0) Change();
    return index;
}

int TCustomImageList::AddIcon(TIcon& icon) {
    if (icon.Empty()) return -1;
    const int index = ImageList_ReplaceIcon(list_, -1, icon.Handle());
    if (index >= 0) Change();
    return index;
}

void TCustomImageList::ReplaceIcon(int index, TIcon& icon) {
    if (index < 0 || index >= Count()) throw EInvalidOperation("Invalid ImageList Index");
    if (ImageList_ReplaceIcon(list_, index, icon.Handle()) >= 0) Change();
}

void TCustomImageList::Delete(int index) {
    if (index < 0 || index >= Count()) throw EInvalidOperation("Invalid ImageList Index");
    if (ImageList_Remove(list_, index)) Change();
}

void TCustomImageList::Clear() {
    if (Count() == 0) return;
    ImageList_Remove(list_, -1);
    Change();
}

bool TCustomImageList::GetIcon(int index, TIcon& icon) const {
    if (index < 0 || index >= Count()) return false;
    HICON h = ImageList_GetIcon(list_, index, ILD_NORMAL);
    if (!h) return false;
    icon.SetHandle(h);
    return true;
}

bool TCustomImageList::GetBitmap(int index, TBitmap& bitmap) const {
    if (index < 0 || index >= Count()) return false;
    bitmap.SetSize(width_, height_);
    RECT r{0, 0, width_, height_};
    bitmap.Canvas().Brush().SetColor(clWhite);
    bitmap.Canvas().FillRect(r);
    Draw(bitmap.Canvas(), 0, 0, index, true);
    return true;
}

void TCustomImageList::Draw(TCanvas& canvas, int x, int y, int index, bool enabled) const {
    Draw(canvas.Handle(), x, y, index, enabled);
}

void TCustomImageList::Draw(HDC dc, int x, int y, int index, bool enabled) const {
    if (index < 0 || index >= Count()) return;
    if (enabled) {
        ImageList_Draw(list_, index, dc, x, y, ILD_NORMAL);
        return;
    }
    // Disabled: the image's shape (its opaque pixels), once in highlight shifted by (1, 1),
    // once in shadow.
    TMemoryDC mem = CreateMemoryDC(dc);
    TGdiObject shape(GDICheck(CreateBitmap(width_, height_, 1, 1, nullptr)));
    {
        TSelectObject sel(mem.get(), shape.get());
        PatBlt(mem.get(), 0, 0, width_, height_, WHITENESS);
        ImageList_Draw(list_, index, mem.get(), 0, 0, ILD_MASK);
    }
    // The mask is 0 where the image is opaque. Blitted with text colour white and background
    // black it becomes 1 there, and "DSPDxax" paints the brush where the source is 1 and
    // keeps the destination elsewhere.
    const DWORD DSPDxax = 0x00E20746;
    auto paint = [&](int dx, int dy, int sysColor) {
        TSelectObject brush(dc, GetSysColorBrush(sysColor));
        const COLORREF oldText = SetTextColor(dc, RGB(255, 255, 255));
        const COLORREF oldBk = SetBkColor(dc, RGB(0, 0, 0));
        TSelectObject sel(mem.get(), shape.get());
        BitBlt(dc, x + dx, y + dy, width_, height_, mem.get(), 0, 0, DSPDxax);
        SetTextColor(dc, oldText);
        SetBkColor(dc, oldBk);
    };
    paint(1, 1, COLOR_BTNHIGHLIGHT);
    paint(0, 0, COLOR_BTNSHADOW);
}

void TCustomImageList::RegisterChanges(TChangeLink* link) {
    if (!link) return;
    if (link->sender_ && link->sender_ != this) link->sender_->UnRegisterChanges(link);
    link->sender_ = this;
    if (std::find(links_.begin(), links_.end(), link) == links_.end()) links_.push_back(link);
}

void TCustomImageList::UnRegisterChanges(TChangeLink* link) {
    if (!link) return;
    links_.erase(std::remove(links_.begin(), links_.end(), link), links_.end());
    if (link->sender_ == this) link->sender_ = nullptr;
}

}  // namespace framework
