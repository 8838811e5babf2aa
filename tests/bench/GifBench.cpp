// Decoding large animated GIFs: our decoder (parse, then every frame to its bitmap) against
// the system's own GIF decoder (WIC, windowscodecs.dll: every frame's pixels copied out), on
// the same files in the same process. Prints the median times and their ratio. Then a file of
// 45,000 tiny frames whose transparent colours must be made unique, against the same file
// with unique ones.
#include <windows.h>
#include <shlwapi.h>
#include <wincodec.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "components/UxGIF.h"

using namespace framework;

namespace {

// A GIF of Frames frames of W x H, 8 bits; Noise in 0..255 says how much of each pixel is
// random (more noise: longer codes, fewer long strings).
std::string MakeGif(int frames, int w, int h, int noise) {
    TUxGIFImage gif;
    uint32_t seed = 12345;
    for (int f = 0; f < frames; ++f) {
        TBitmap b(w, h, TPixelFormat::pf8bit);
        GdiFlush();
        for (int y = 0; y < h; ++y) {
            auto* row = static_cast<uint8_t*>(b.ScanLine(y));
            for (int x = 0; x < w; ++x) {
                seed = seed * 1103515245 + 12345;
                const int wave = ((x + f * 7) / 9 + (y * y) / 400 + f * 3) & 255;
                row[x] = static_cast<uint8_t>(wave ^ ((seed >> 16) % (noise + 1)));
            }
        }
        gif.AddFrame(b);
        gif.Frames(f).AnimateInterval = 40;
    }
    gif.Looping = true;
    gif.RepeatCount = 0;
    TMemoryStream s;
    gif.SaveToStream(s);
    return s.Bytes();
}

double Seconds(const std::function<void()>& work) {
    LARGE_INTEGER freq, a, b;
    QueryPerformanceFrequency(&freq);
    QueryPerformanceCounter(&a);
    work();
    QueryPerformanceCounter(&b);
    return double(b.QuadPart - a.QuadPart) / freq.QuadPart;
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// Our decoder: the whole file parsed, every frame decoded. Returns a checksum of pixels.
uint64_t DecodeOurs(const std::string& file) {
    TUxGIFImage gif;
    TMemoryStream s;
    s.WriteBuffer(file.data(), static_cast<int64_t>(file.size()));
    s.SetPosition(0);
    gif.LoadFromStream(s);
    uint64_t sum = 0;
    for (int i = 0; i < gif.Count(); ++i) {
        TBitmap& b = gif.Frames(i).Bitmap();
        GdiFlush();
        sum += static_cast<const uint8_t*>(b.ScanLine(b.Height() / 2))[b.Width() / 2];
    }
    return sum;
}

// WIC's decoder: every frame's pixels copied out in its own (indexed) format.
uint64_t DecodeWic(IWICImagingFactory* factory, const std::string& file) {
    uint64_t sum = 0;
    IStream* stream = SHCreateMemStream(reinterpret_cast<const BYTE*>(file.data()), static_cast<UINT>(file.size()));
    IWICBitmapDecoder* decoder = nullptr;
    if (stream && SUCCEEDED(factory->CreateDecoderFromStream(stream, nullptr, WICDecodeMetadataCacheOnDemand, &decoder))) {
        UINT count = 0;
        decoder->GetFrameCount(&count);
        std::vector<BYTE> pixels;
        for (UINT i = 0; i < count; ++i) {
            IWICBitmapFrameDecode* frame = nullptr;
            if (FAILED(decoder->GetFrame(i, &frame))) continue;
            UINT w = 0, h = 0;
            frame->GetSize(&w, &h);
            pixels.resize(size_t{w} * h);
            if (SUCCEEDED(frame->CopyPixels(nullptr, w, static_cast<UINT>(pixels.size()), pixels.data())))
                sum += pixels[size_t{h / 2} * w + w / 2];
            frame->Release();
        }
        decoder->Release();
    }
    if (stream) stream->Release();
    return sum;
}

// A file of many one-pixel frames, each with a transparent index into a global table where
// every other blue of the same red and green is taken but 255, so making the transparent
// colour unique steps its blue across the whole range; or, as the baseline, an index whose
// colour is unique already.
std::string ManyTransparentFrames(int frames, bool clashing) {
    std::string s = "GIF89a";
    s += std::string("\x01\x00\x01\x00\xF7\x00\x00", 7);
    for (int j = 0; j < 256; ++j) s += {'\0', '\0', static_cast<char>(j == 255 ? 128 : j)};
    const char index = clashing ? static_cast<char>(128) : '\x01';
    for (int f = 0; f < frames; ++f) {
        s += std::string("!\xF9\x04\x01\x00\x00", 6) + index + '\0';
        s += std::string(",\0\0\0\0\x01\0\x01\0\0", 10);
        s += std::string("\x08\x04\x00\x01\x04\x04\x00", 7);  // clear, 0, end
    }
    return s + ";";
}

double LoadSeconds(const std::string& file) {
    return Seconds([&] {
        TUxGIFImage gif;
        TMemoryStream s;
        s.WriteBuffer(file.data(), static_cast<int64_t>(file.size()));
        s.SetPosition(0);
        gif.LoadFromStream(s);
    });
}

}  // namespace

int main() {
    CoInitialize(nullptr);
    IWICImagingFactory* factory = nullptr;
    if (FAILED(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&factory)))) {
        std::printf("the system's GIF decoder (windowscodecs.dll) is not available\n");
        return 1;
    }
    struct Case {
        const char* name;
        int frames, w, h, noise;
    } cases[] = {{"24 frames of 800 x 600, smooth", 24, 800, 600, 0},
                 {"12 frames of 1024 x 768, noisy", 12, 1024, 768, 15}};
    for (const auto& c : cases) {
        const std::string file = MakeGif(c.frames, c.w, c.h, c.noise);
        uint64_t ours = 0, wic = 0;
        std::vector<double> tOurs, tWic;
        for (int round = 0; round < 7; ++round) {
            tOurs.push_back(Seconds([&] { ours = DecodeOurs(file); }));
            tWic.push_back(Seconds([&] { wic = DecodeWic(factory, file); }));
        }
        const double a = Median(tOurs), b = Median(tWic);
        std::printf("%s (%zu KB): ours %.1f ms, system %.1f ms, ratio %.2f%s\n", c.name, file.size() / 1024, a * 1e3,
                    b * 1e3, a / b, ours == wic ? "" : "  (pixel checksums differ!)");
    }
    {
        const std::string hostile = ManyTransparentFrames(45000, true), plain = ManyTransparentFrames(45000, false);
        std::vector<double> tHostile, tPlain;
        for (int round = 0; round < 5; ++round) {
            tHostile.push_back(LoadSeconds(hostile));
            tPlain.push_back(LoadSeconds(plain));
        }
        const double a = Median(tHostile), b = Median(tPlain);
        std::printf("45000 frames with clashing transparent colours (%zu KB): %.1f ms, with unique ones %.1f ms, "
                    "ratio %.2f\n", hostile.size() / 1024, a * 1e3, b * 1e3, a / b);
    }
    factory->Release();
    CoUninitialize();
    return 0;
}
