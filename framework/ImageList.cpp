#include "framework/ImageList.h"

#include <algorithm>
#include <cstring>

namespace framework {

namespace {

#pragma pack(push, 2)
struct GroupIconDir {
    WORD Reserved, Type, Count;
};
struct GroupIconEntry {
    BYTE Width, Height, ColorCount, Reserved;
    WORD Planes, BitCount;
    DWORD BytesInRes;
    WORD Id;
};
#pragma pack(pop)
static_assert(sizeof(GroupIconDir) == 6 && sizeof(GroupIconEntry) == 14);

int IconMaskStride(int width) { return (width + 31) / 32 * 4; }

// The 32-bit, uncompressed image of exactly width x height in icon resource Id: its header, then
// the colour rows bottom-up, then the AND mask rows; nullptr when there is none.
const BITMAPINFOHEADER* FindIconImage(HINSTANCE instance, int id, int width, int height) {
    auto locate = [instance](LPCSTR name, LPCSTR type, DWORD& size) -> const BYTE* {
        HRSRC res = FindResourceA(instance, name, type);
        if (!res) return nullptr;
        HGLOBAL data = LoadResource(instance, res);
        size = SizeofResource(instance, res);
        return data ? static_cast<const BYTE*>(LockResource(data)) : nullptr;
    };
    DWORD groupSize = 0;
    const BYTE* group = locate(MAKEINTRESOURCEA(id), RT_GROUP_ICON, groupSize);
    if (!group || groupSize < sizeof(GroupIconDir)) return nullptr;
    GroupIconDir dir;
    std::memcpy(&dir, group, sizeof dir);
    if (dir.Type != 1 || groupSize < sizeof dir + dir.Count * sizeof(GroupIconEntry)) return nullptr;
    for (int i = 0; i < dir.Count; ++i) {
        GroupIconEntry e;
        std::memcpy(&e, group + sizeof dir + i * sizeof e, sizeof e);
        if ((e.Width ? e.Width : 256) != width || (e.Height ? e.Height : 256) != height || e.BitCount != 32) continue;
        DWORD size = 0;
        const BYTE* image = locate(MAKEINTRESOURCEA(e.Id), RT_ICON, size);
        if (!image || size < sizeof(BITMAPINFOHEADER)) continue;
        const auto* h = reinterpret_cast<const BITMAPINFOHEADER*>(image);
        const size_t need = size_t(h->biSize) + size_t(width) * 4 * height + size_t(IconMaskStride(width)) * height;
        if (h->biSize < sizeof(BITMAPINFOHEADER) || h->biWidth != width || h->biHeight != 2 * height ||
            h->biPlanes != 1 || h->biBitCount != 32 || h->biCompression != BI_RGB || h->biClrUsed != 0 || size < need)
            continue;
        return h;
    }
    return nullptr;
}

}  // namespace

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

int TCustomImageList::AddIconResources(HINSTANCE instance, int firstId, int count) {
    if (count <= 0) return -1;
    std::vector<const BITMAPINFOHEADER*> images;
    for (int i = 0; i < count; ++i) {
        const BITMAPINFOHEADER* h = FindIconImage(instance, firstId + i, width_, height_);
        if (!h) return -1;
        images.push_back(h);
    }
    // One strip of all the images, top-down, and its monochrome mask: one call to the list
    // instead of an icon made, taken apart and drawn for each.
    const int stripWidth = width_ * count;
    BITMAPINFO info{};
    info.bmiHeader = {sizeof(BITMAPINFOHEADER), stripWidth, -height_, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    void* bits = nullptr;
    TGdiObject color(GDICheck(CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0)));
    const int maskStride = (stripWidth + 15) / 16 * 2;  // monochrome bitmap rows are WORD-aligned
    std::vector<BYTE> mask(size_t(maskStride) * height_, 0);
    for (int i = 0; i < count; ++i) {
        const BYTE* colorRows = reinterpret_cast<const BYTE*>(images[i]) + images[i]->biSize;
        const BYTE* maskRows = colorRows + size_t(width_) * 4 * height_;
        for (int y = 0; y < height_; ++y) {
            const int from = height_ - 1 - y;  // the icon's rows are bottom-up
            std::memcpy(static_cast<BYTE*>(bits) + (size_t(y) * stripWidth + size_t(i) * width_) * 4,
                        colorRows + size_t(from) * width_ * 4, size_t(width_) * 4);
            const BYTE* src = maskRows + size_t(from) * IconMaskStride(width_);
            for (int x = 0; x < width_; ++x)
                if (src[x >> 3] & (0x80 >> (x & 7))) {
                    const int to = i * width_ + x;
                    mask[size_t(y) * maskStride + (to >> 3)] |= BYTE(0x80 >> (to & 7));
                }
        }
    }
    TGdiObject maskBitmap(GDICheck(CreateBitmap(stripWidth, height_, 1, 1, mask.data())));
    const int index = ImageList_Add(list_, static_cast<HBITMAP>(color.get()), static_cast<HBITMAP>(maskBitmap.get()));
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
