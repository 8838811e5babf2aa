// Animated cursors (RIFF "ACON" files) as a graphic: the header, optional frame rates and
// step sequence, the frame images (each a whole icon or cursor file), title and author.
// Reads and writes the format, plays it with a timer, draws the current step, and converts
// to an icon or to a strip of frames in one bitmap. The picture registry knows it under
// "ani". GUI thread.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "framework/Graphics.h"
#include "framework/Timer.h"

// One frame: its icon, whether it came from an icon (not a cursor) file, the hot spot and
// the display time in jiffies (1/60 s).
class TUxIconFrame {
public:
    TUxIconFrame();
    // Copies everything; the icon into a new icon of its own.
    void Assign(const TUxIconFrame& source);

    std::shared_ptr<framework::TIcon> Icon;
    bool IsIcon = true;
    // The hot spot of the image shown.
    int32_t HotSpotX = 0, HotSpotY = 0;
    // A cursor file's hot spot of every directory entry, in file order.
    std::vector<POINT> EntryHotSpots;
    uint32_t Rate = 0;
};

#pragma pack(push, 1)
// The "anih" chunk as stored.
struct TAniHeader {
    uint32_t cbSizeOf;
    uint32_t cFrames;   // images
    uint32_t cSteps;
    uint32_t cx, cy;
    uint32_t cBitCount, cPlanes;
    uint32_t JifRate;   // default rate, jiffies
    uint32_t Flags;     // bit 0: the frames are icon or cursor files
};
#pragma pack(pop)
static_assert(sizeof(TAniHeader) == 36);

class TUxAni : public framework::TGraphic {
public:
    TUxAni();
    ~TUxAni() override;
    static const framework::TGraphicClass& Class();
    const framework::TGraphicClass& ClassType() const override { return Class(); }

    // Drops every image, the rates, sequence, texts and header; notifies when there was
    // anything.
    void Clear();
    // Another animated cursor is copied whole (on failure this one is left empty).
    bool Assign(const framework::TGraphic& source) override;
    // To an icon: the current step's icon; to a bitmap: the horizontal strip of the frames
    // on the bitmap's brush colour, colours reduced. False for other classes.
    bool AssignTo(framework::TGraphic& dest);
    // The strip: every step in its slot side by side (or one above the other), on the
    // background colour, optionally reduced to the frames' colour count (at least 16).
    void FrameStrip(framework::TBitmap& bitmap, framework::TColor background, bool vertical, bool reduceColors);

    // The current step's icon at its own size at the rectangle's top-left corner.
    void Draw(framework::TCanvas& canvas, const RECT& rect) override;
    int Width() const override;
    int Height() const override;
    // Raise EInvalidGraphic: an icon's size is fixed.
    void SetWidth(int) override;
    void SetHeight(int) override;
    bool Empty() const override { return frameCount_ == 0; }
    // Raise EInvalidGraphic: the clipboard holds no icons.
    void LoadFromClipboardFormat(UINT format, HANDLE data);
    void SaveToClipboardFormat(UINT& format, HANDLE& data);

    // Parses the rest of the stream; a malformed file raises EStreamError "Erreur de
    // lecture du flux" and leaves the image empty.
    void LoadFromStream(framework::TStream& stream) override;
    // Raises EInvalidGraphic "Image non valide" without images.
    void SaveToStream(framework::TStream& stream) override;

    // Step i (nullptr outside 0..FrameCount-1): the sequence's image, with the step's rate.
    // The returned frame is shared and overwritten by the next call.
    TUxIconFrame* Frames(int i);
    // Image i's icon (nullptr outside 0..IconCount-1).
    framework::TIcon* Icons(int i);
    int Index() const { return index_; }
    void SetIndex(int v);
    bool Animated() const;
    void SetAnimated(bool v);
    // One timer tick: next step, interval from its rate.
    void Animate();
    // Milliseconds a step of Rate jiffies is shown (100 for 0).
    static unsigned RateToInterval(uint32_t rate);
    unsigned TimerInterval() const;

    const std::string& Title() const { return title_; }
    void SetTitle(const std::string& v) { title_ = v; }
    const std::string& Author() const { return author_; }
    void SetAuthor(const std::string& v) { author_ = v; }
    int FrameCount() const { return frameCount_; }
    int IconCount() const { return static_cast<int>(images_.size()); }
    int SourceColorCount() const { return sourceColorCount_; }
    const TAniHeader& Header() const { return header_; }
    const std::vector<uint32_t>& Rates() const { return rates_; }
    const std::vector<uint32_t>& Sequence() const { return sequence_; }

    // Building an animation in code: an image (its icon copied), and the optional arrays.
    void AddImage(const TUxIconFrame& frame);
    void SetRates(std::vector<uint32_t> rates) { rates_ = std::move(rates); }
    void SetSequence(std::vector<uint32_t> sequence);
    void SetDefaultRate(uint32_t jiffies) { header_.JifRate = jiffies; }

    // Strips never grow wider or higher than this many pixels.
    static constexpr int kMaxStripPixels = 32767;

private:
    void Parse(const std::string& data);
    bool ReadImage(const std::string& data);
    void Reset();

    TAniHeader header_{};
    std::string title_, author_;
    int sourceColorCount_ = 0;
    int frameCount_ = 0;
    std::vector<uint32_t> rates_, sequence_;
    std::vector<std::unique_ptr<TUxIconFrame>> images_;
    int index_ = -1;
    std::unique_ptr<framework::TTimer> timer_;
    TUxIconFrame result_;
};
