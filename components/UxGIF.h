// GIF pictures (87a and 89a) as a graphic with any number of frames. Each frame keeps its
// LZW-coded raster as read and is decoded into a bitmap only when first drawn or measured;
// the file's shared data and each frame's image are reference-counted, so copies of a
// picture are cheap. Writing, the clipboard and conversion from bitmaps and animated
// cursors belong to the same class. The picture registry knows it under "gif". GUI thread.
//
// Everything read from a file is bounded before use: sizes against the data that holds
// them, frame areas against what the data can describe, codes against the table.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "framework/Graphics.h"
#include "framework/StringList.h"

class TUxAni;
class TUxGIFImage;

enum class TGIFVersion { gvNone, gv87a, gv89a };
enum class TGIFExtensionType { etGraphicControl, etPlainText, etApplication, etComment };

// The clipboard format of whole GIF files ("UxGIF Image").
UINT CF_UXGIF();
// Damaged frames are kept, marked corrupted, instead of raising (true unless changed).
extern bool GIFTolerantDecoding;

struct TGIFColorTable {
    int Count = 0;
    uint8_t Entries[256][3] = {};  // red, green, blue
    void Clear() { Count = 0; }
    // The first entry with the colour's RGB value, -1 when none.
    int IndexOf(framework::TColor color) const;
};

// Shared by every copy of one file: comment, aspect byte, bits, the global table.
struct TGIFData {
    framework::TStringList Comment;
    uint8_t AspectRatio = 0;
    int BitsPerPixel = 1;
    int ColorResBits = 1;
    TGIFColorTable ColorTable;
};

// One frame's image, shared by copies: the raw LZW data (the code-size byte through the
// terminator block), size, descriptor byte, bits and colour table.
struct TGIFItem {
    std::string ImageData;
    int Width = 0, Height = 0;
    uint8_t Packed = 0;
    int BitsPerPixel = 1;
    TGIFColorTable ColorTable;
};

// One extension block: its data sub-blocks and the fixed part as stored.
class TExtension {
public:
    explicit TExtension(TGIFExtensionType type) : Type(type) {}
    void Assign(const TExtension& source);
    // The concatenated data sub-blocks.
    std::string Text() const;

    TGIFExtensionType Type;
    std::vector<std::string> Data;
    std::string Fixed;  // graphic control 6 bytes, plain text 13, application 12
};

// GIF LZW coding of pixel values (one per byte, rows top-down) at a depth of 1..8 bits: the
// code-size byte, the codes in data sub-blocks of 255 bytes, and the terminator block.
void LzwEncode(const std::vector<uint8_t>& pixels, int bitsPerPixel, std::string& out);

struct TLzwDecoded {
    size_t Pixels = 0;     // values decoded
    bool Ended = false;    // the End code was met
    bool Corrupt = false;  // a code size out of 2..9 (then clamped), or a code no entry holds
};
// Decodes data as LzwEncode writes it into out (resized to count and some scratch beyond;
// values past Pixels are 0); stops at the End code, after count values, when the data run
// out or at the first impossible code.
TLzwDecoded LzwDecode(const std::string& raw, std::vector<uint8_t>& out, size_t count);

enum class TProgressStage { psStarting, psRunning, psEnding };
using TGIFProgressEvent =
    std::function<void(TUxGIFImage* sender, TProgressStage stage, int percent, const std::string& message)>;

class TUxGIFFrame {
public:
    explicit TUxGIFFrame(TUxGIFImage* owner);
    ~TUxGIFFrame();

    // The decoded bitmap (decoded on first use).
    framework::TBitmap& Bitmap();
    bool HasBitmap() const { return bitmap_ && !bitmap_->Empty(); }
    bool HasData() const { return item_ && !item_->ImageData.empty(); }
    int Width() const;
    int Height() const;
    // The comment extension's lines (created when absent).
    std::vector<std::string>& Comment();
    const std::vector<std::unique_ptr<TExtension>>& Extensions() const { return extensions_; }

    // From another frame: shares its image; from a picture: its current frame; from any
    // other graphic: a new image drawn from it.
    void Assign(const TUxGIFFrame& source);
    void Assign(framework::TGraphic& source);
    // The decoded bitmap with its transparent colour.
    void AssignTo(framework::TBitmap& dest);
    void Draw(framework::TCanvas& canvas, const RECT& rect, bool transparent);

    TUxGIFImage* Owner() const { return owner_; }
    TGIFItem& Item() { return *item_; }
    const std::shared_ptr<TGIFItem>& SharedItem() const { return item_; }

    POINT Origin{0, 0};
    bool Interlaced = false;
    bool Corrupted = false;
    framework::TColor TransparentColor = framework::clNone;
    uint16_t AnimateInterval = 0;  // ms
    int DisposalMethod = 0;
    bool LocalColors = false;
    bool GrayScale = false;

private:
    friend class TUxGIFImage;
    void Read(const std::string& data, size_t& pos, std::vector<std::unique_ptr<TExtension>> extensions);
    void Decode();
    void Encode();
    void UpdateExtensions();
    TExtension* FindExtension(TGIFExtensionType type) const;
    void Write(std::string& out);

    TUxGIFImage* owner_;
    std::shared_ptr<TGIFItem> item_;
    std::vector<std::unique_ptr<TExtension>> extensions_;
    std::unique_ptr<framework::TBitmap> bitmap_;
};

class TUxGIFImage : public framework::TGraphic {
public:
    TUxGIFImage();
    ~TUxGIFImage() override;
    static const framework::TGraphicClass& Class();
    const framework::TGraphicClass& ClassType() const override { return Class(); }

    // New data, no frames, index -1, no background, one repeat, no loop, no version.
    void Reset();

    // The rest of the stream: parsed, frame 0 decoded (removed again when that fails).
    void LoadFromStream(framework::TStream& stream) override;
    void SaveToStream(framework::TStream& stream) override;
    // Form data: a 32-bit size, then the file.
    void ReadData(framework::TStream& stream);
    void WriteData(framework::TStream& stream);
    // With the clipboard open: puts frame 0's bitmap (Format := CF_BITMAP, Data) and the
    // whole file under "UxGIF Image"; loading prefers the whole file.
    void SaveToClipboardFormat(UINT& format, HANDLE& data);
    void LoadFromClipboardFormat(UINT format, HANDLE data);

    void Draw(framework::TCanvas& canvas, const RECT& rect) override;
    int Width() const override;
    int Height() const override;
    // Raise EInvalidGraphic "Cannot change the Size of a GIF image".
    void SetWidth(int) override;
    void SetHeight(int) override;
    bool Empty() const override;
    // The current frame's bitmap (frame 0's when out of range; an empty frame is added first
    // when there are none).
    framework::TBitmap& Bitmap();
    // The flag and at least one frame with a transparent colour.
    bool IsTransparent() const;
    bool Equals(const TUxGIFImage& other) const { return data_ == other.data_; }

    int Count() const { return static_cast<int>(frames_.size()); }
    TUxGIFFrame& Frames(int i) { return *frames_.at(static_cast<size_t>(i)); }
    // Appends a frame drawn from the graphic and makes it current; returns its index.
    int AddFrame(framework::TGraphic& graphic);
    void DeleteFrame(int i);

    // Another GIF shares its data; a frame, a bitmap or an animated cursor become frames.
    bool Assign(const framework::TGraphic& source) override;
    void Assign(const TUxGIFFrame& frame);
    // To a GIF: its Assign; to a bitmap: the current frame. False when empty or another class.
    bool AssignTo(framework::TGraphic& dest);

    TGIFData& Data() { return *data_; }
    framework::TStringList& Comment() { return data_->Comment; }
    TGIFVersion Version() const { return version_; }
    int FrameIndex() const { return index_; }
    void SetFrameIndex(int i);
    int ScreenWidth() const { return screenWidth_; }
    int ScreenHeight() const { return screenHeight_; }
    framework::TColor BackgroundColor = framework::clNone;
    bool Looping = false;
    bool Corrupted = false;
    uint16_t RepeatCount = 1;
    TGIFProgressEvent OnProgress;

private:
    friend class TUxGIFFrame;
    void Parse(const std::string& data);
    void ReadFrom(const std::string& data, bool decodeFirst);
    void UpdateScreenSize();
    void Progress(TProgressStage stage, int percent, const std::string& message = {});

    std::shared_ptr<TGIFData> data_;
    TGIFVersion version_ = TGIFVersion::gvNone;
    std::vector<std::unique_ptr<TUxGIFFrame>> frames_;
    int index_ = -1;
    int screenWidth_ = 0, screenHeight_ = 0;
};
