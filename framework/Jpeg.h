// JPEG pictures through libjpeg: the compressed bytes are kept as loaded and decoded into a
// 24-bit bitmap; a picture assigned from a bitmap is compressed when saved. The picture
// registry knows it under "jpeg" and "jpg". GUI thread.
#pragma once

#include <memory>
#include <string>

#include "framework/Graphics.h"

namespace framework {

class TJPEGImage : public TGraphic {
public:
    TJPEGImage();
    ~TJPEGImage() override;
    static const TGraphicClass& Class();
    const TGraphicClass& ClassType() const override { return Class(); }

    bool Empty() const override { return !bitmap_ || bitmap_->Empty(); }
    int Width() const override { return bitmap_ ? bitmap_->Width() : 0; }
    int Height() const override { return bitmap_ ? bitmap_->Height() : 0; }
    void Draw(TCanvas& canvas, const RECT& rect) override;
    // Raises EInvalidGraphic "JPEG error #<code>: <libjpeg's text>" for data libjpeg refuses,
    // and "JPEG image is too large" for a size the data cannot plausibly describe.
    void LoadFromStream(TStream& stream) override;
    // The bytes as loaded, else the bitmap compressed at CompressionQuality.
    void SaveToStream(TStream& stream) override;
    // Another JPEG is copied; a bitmap becomes the picture (compressed when saved).
    bool Assign(const TGraphic& source) override;

    // The decoded picture (24 bits per pixel).
    TBitmap& Bitmap();
    bool Grayscale() const { return grayscale_; }
    // 1..100, used when compressing.
    int CompressionQuality = 90;

private:
    std::unique_ptr<TBitmap> bitmap_;
    std::string data_;
    bool grayscale_ = false;
};

}  // namespace framework
