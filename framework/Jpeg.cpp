#include "framework/Jpeg.h"

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

// libjpeg's headers expect FILE and size_t to be declared already.
#include <jpeglib.h>

namespace framework {

namespace {

// libjpeg reports fatal errors through error_exit, which must not return: it jumps back
// to the call that set the jump buffer. Only plain data lives across that jump.
struct ErrorManager {
    jpeg_error_mgr pub;
    jmp_buf jump;
    char message[JMSG_LENGTH_MAX + 32];
};

void ErrorExit(j_common_ptr cinfo) {
    auto* err = reinterpret_cast<ErrorManager*>(cinfo->err);
    char text[JMSG_LENGTH_MAX] = {};
    (*cinfo->err->format_message)(cinfo, text);
    std::snprintf(err->message, sizeof err->message, "JPEG error #%d: %s", cinfo->err->msg_code, text);
    std::longjmp(err->jump, 1);
}

void Silent(j_common_ptr) {}

// A decoded picture may cover this many pixels without further thought; beyond it the data
// must be able to describe the area, so a tiny file never asks for a huge bitmap.
constexpr uint64_t kFreeArea = uint64_t{1} << 22;
constexpr uint64_t kPixelsPerDataByte = 4096;

struct Decoded {
    int width = 0, height = 0;
    bool gray = false;
    std::vector<unsigned char> bgr;  // bottom-up rows, padded to 4 bytes
};

// False with the message in Error when libjpeg refuses the data.
bool Decode(const std::string& data, Decoded& out, char* error, size_t errorSize) {
    jpeg_decompress_struct cinfo;
    ErrorManager jerr;
    cinfo.err = jpeg_std_error(&jerr.pub);
    jerr.pub.error_exit = ErrorExit;
    jerr.pub.output_message = Silent;
    jerr.message[0] = 0;
    if (setjmp(jerr.jump)) {
        jpeg_destroy_decompress(&cinfo);
        std::snprintf(error, errorSize, "%s", jerr.message);
        return false;
    }
    jpeg_create_decompress(&cinfo);
    jpeg_mem_src(&cinfo, reinterpret_cast<const unsigned char*>(data.data()), static_cast<unsigned long>(data.size()));
    jpeg_read_header(&cinfo, TRUE);
    const uint64_t area = uint64_t{cinfo.image_width} * cinfo.image_height;
    if (area == 0 || area > std::max<uint64_t>(kFreeArea, data.size() * kPixelsPerDataByte)) {
        jpeg_destroy_decompress(&cinfo);
        std::snprintf(error, errorSize, "JPEG image is too large");
        return false;
    }
    out.gray = cinfo.jpeg_color_space == JCS_GRAYSCALE;
    cinfo.out_color_space = JCS_EXT_BGR;  // the byte order of a 24-bit DIB
    jpeg_start_decompress(&cinfo);
    out.width = static_cast<int>(cinfo.output_width);
    out.height = static_cast<int>(cinfo.output_height);
    const size_t stride = ((size_t{cinfo.output_width} * 3 + 3) / 4) * 4;
    out.bgr.assign(stride * out.height, 0);
    while (cinfo.output_scanline < cinfo.output_height) {
        JSAMPROW row = out.bgr.data() + (out.height - 1 - cinfo.output_scanline) * stride;
        jpeg_read_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    return true;
}

bool Encode(const unsigned char* bgr, int width, int height, size_t stride, int quality, std::string& out,
            char* error, size_t errorSize) {
    jpeg_compress_struct cinfo;
    ErrorManager jerr;
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    cinfo.err = jpeg_std_error(&jerr.pub);
    jerr.pub.error_exit = ErrorExit;
    jerr.pub.output_message = Silent;
    if (setjmp(jerr.jump)) {
        jpeg_destroy_compress(&cinfo);
        std::free(buffer);
        std::snprintf(error, errorSize, "%s", jerr.message);
        return false;
    }
    jpeg_create_compress(&cinfo);
    jpeg_mem_dest(&cinfo, &buffer, &size);
    cinfo.image_width = static_cast<JDIMENSION>(width);
    cinfo.image_height = static_cast<JDIMENSION>(height);
    cinfo.input_components = 3;
    cinfo.in_color_space = JCS_EXT_BGR;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, quality, TRUE);
    jpeg_start_compress(&cinfo, TRUE);
    while (cinfo.next_scanline < cinfo.image_height) {
        // Bottom-up DIB rows: the top image row is the last one.
        JSAMPROW row = const_cast<unsigned char*>(bgr) + (height - 1 - cinfo.next_scanline) * stride;
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    out.assign(reinterpret_cast<const char*>(buffer), size);
    std::free(buffer);
    return true;
}

}  // namespace

const TGraphicClass& TJPEGImage::Class() {
    static const TGraphicClass c{"TJPEGImage", [] { return std::unique_ptr<TGraphic>(new TJPEGImage); }};
    return c;
}

TJPEGImage::TJPEGImage() = default;
TJPEGImage::~TJPEGImage() = default;

TBitmap& TJPEGImage::Bitmap() {
    if (!bitmap_) bitmap_ = std::make_unique<TBitmap>();
    return *bitmap_;
}

void TJPEGImage::Draw(TCanvas& canvas, const RECT& rect) {
    if (!Empty()) canvas.StretchDraw(rect, *bitmap_);
}

void TJPEGImage::LoadFromStream(TStream& stream) {
    const int64_t size = std::max<int64_t>(0, stream.Size() - stream.Position());
    std::string data(static_cast<size_t>(size), '\0');
    stream.ReadBuffer(data.data(), size);
    Decoded d;
    char error[JMSG_LENGTH_MAX + 64] = {};
    if (!Decode(data, d, error, sizeof error)) throw EInvalidGraphic(error);
    auto bitmap = std::make_unique<TBitmap>(d.width, d.height, TPixelFormat::pf24bit);
    GdiFlush();  // the new bitmap's white fill lands before its bits are written
    const size_t stride = ((size_t(d.width) * 3 + 3) / 4) * 4;
    for (int y = 0; y < d.height; ++y)
        std::memcpy(bitmap->ScanLine(d.height - 1 - y), d.bgr.data() + y * stride, size_t(d.width) * 3);
    bitmap_ = std::move(bitmap);
    data_ = std::move(data);
    grayscale_ = d.gray;
    Changed();
}

void TJPEGImage::SaveToStream(TStream& stream) {
    if (data_.empty() && !Empty()) {
        // A 24-bit copy gives libjpeg rows in the order it expects.
        TBitmap copy;
        copy.Assign(*bitmap_);
        copy.SetPixelFormat(TPixelFormat::pf24bit);
        GdiFlush();
        const size_t stride = ((size_t(copy.Width()) * 3 + 3) / 4) * 4;
        const auto* bits = static_cast<const unsigned char*>(copy.ScanLine(copy.Height() - 1));
        char error[JMSG_LENGTH_MAX + 64] = {};
        if (!Encode(bits, copy.Width(), copy.Height(), stride, std::clamp(CompressionQuality, 1, 100), data_, error,
                    sizeof error))
            throw EInvalidGraphic(error);
    }
    stream.WriteBuffer(data_.data(), static_cast<int64_t>(data_.size()));
}

bool TJPEGImage::Assign(const TGraphic& source) {
    if (&source == this) return true;
    if (auto* j = dynamic_cast<const TJPEGImage*>(&source)) {
        bitmap_.reset();
        if (j->bitmap_) {
            bitmap_ = std::make_unique<TBitmap>();
            bitmap_->Assign(*j->bitmap_);
        }
        data_ = j->data_;
        grayscale_ = j->grayscale_;
        CompressionQuality = j->CompressionQuality;
        Changed();
        return true;
    }
    if (auto* b = dynamic_cast<const TBitmap*>(&source)) {
        bitmap_ = std::make_unique<TBitmap>();
        bitmap_->Assign(*b);
        data_.clear();
        grayscale_ = false;
        Changed();
        return true;
    }
    return false;
}

}  // namespace framework
