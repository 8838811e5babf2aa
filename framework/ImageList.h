// TImageList: a list of equally sized images held by a common-controls image list
// (HIMAGELIST, 32-bit colour with a mask), drawn normally or in the greyed "disabled" style.
// Objects that show its images register a TChangeLink to be told when the list changes.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <functional>
#include <vector>

#include "framework/Component.h"
#include "framework/Graphics.h"

namespace framework {

class TCustomImageList;

// Tells its owner (OnChange) that the image list it is registered with changed.
class TChangeLink {
public:
    TChangeLink() = default;
    ~TChangeLink();
    TChangeLink(const TChangeLink&) = delete;
    TChangeLink& operator=(const TChangeLink&) = delete;

    TCustomImageList* Sender() const { return sender_; }
    std::function<void(TChangeLink*)> OnChange;

private:
    friend class TCustomImageList;
    TCustomImageList* sender_ = nullptr;
};

class EInvalidOperation : public Exception {
public:
    using Exception::Exception;
};

class TCustomImageList : public TComponent {
public:
    // Images of width x height pixels.
    TCustomImageList(TComponent* owner, int width = 16, int height = 16);
    ~TCustomImageList() override;

    int Width() const { return width_; }
    int Height() const { return height_; }
    // Empties the list when the size changes.
    void SetSize(int width, int height);
    int Count() const;
    HIMAGELIST Handle() const { return list_; }

    // Each returns the index of the first image added, -1 on failure. A bitmap wider than
    // Width holds several images side by side.
    int Add(TBitmap& image, TBitmap* mask);
    int AddMasked(TBitmap& image, TColor maskColor);
    int AddIcon(TIcon& icon);
    // Adds the icon resources FirstId .. FirstId + Count - 1 of Instance as AddIcon of each would,
    // in one call to the list: each must have a 32-bit image of exactly the list's size. Returns
    // the index of the first, or -1 with nothing added when one is missing or of another kind.
    int AddIconResources(HINSTANCE instance, int firstId, int count);
    void ReplaceIcon(int index, TIcon& icon);
    void Delete(int index);
    void Clear();

    // Copies image Index into Icon / Bitmap; false when Index is out of range.
    bool GetIcon(int index, TIcon& icon) const;
    bool GetBitmap(int index, TBitmap& bitmap) const;

    // Draws image Index at (x, y); disabled images are drawn embossed in the button shadow
    // and highlight colours, from the image's mask.
    void Draw(TCanvas& canvas, int x, int y, int index, bool enabled = true) const;
    void Draw(HDC dc, int x, int y, int index, bool enabled = true) const;

    void RegisterChanges(TChangeLink* link);
    void UnRegisterChanges(TChangeLink* link);
    std::function<void(TCustomImageList*)> OnChange;

protected:
    void Change();

private:
    void CreateList();

    int width_, height_;
    HIMAGELIST list_ = nullptr;
    std::vector<TChangeLink*> links_;
};

class TImageList : public TCustomImageList {
public:
    using TCustomImageList::TCustomImageList;
};

}  // namespace framework
