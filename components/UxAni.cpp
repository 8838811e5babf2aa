#include "components/UxAni.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "components/UxColorReduction.h"
#include "components/UxUtils.h"

using namespace framework;

namespace {

const char kReadError[] = "Erreur de lecture du flux";
[[noreturn]] void ReadError() { throw EStreamError(kReadError); }

uint32_t U32(const std::string& d, size_t at) {
    uint32_t v;
    std::memcpy(&v, d.data() + at, 4);
    return v;
}
uint16_t U16(const std::string& d, size_t at) {
    uint16_t v;
    std::memcpy(&v, d.data() + at, 2);
    return v;
}
void PutU16(std::string& d, size_t at, uint16_t v) { std::memcpy(d.data() + at, &v, 2); }

// A text chunk's characters up to its first zero byte, at most 255.
std::string ChunkText(const std::string& d, size_t at, size_t size) {
    const size_t n = std::min<size_t>(size, 255);
    std::string s = d.substr(at, n);
    const size_t zero = s.find('\0');
    if (zero != std::string::npos) s.resize(zero);
    return s;
}

// Registers the format with the picture registry for the life of the program.
struct Registration {
    Registration() { TPicture::RegisterFileFormat("ani", "ANI Image", TUxAni::Class()); }
    ~Registration() { TPicture::UnregisterGraphicClass(TUxAni::Class()); }
} registration;

// Writes chunks into a buffer, patching each size when the chunk is closed.
class ChunkWriter {
public:
    std::string out;
    size_t Open(const char tag[4]) {
        out.append(tag, 4);
        out.append(4, '\0');
        return out.size();
    }
    void Close(size_t start) {
        const uint32_t size = static_cast<uint32_t>(out.size() - start);
        std::memcpy(out.data() + start - 4, &size, 4);
        if (size % 2) out.push_back('\0');
    }
    void Raw(const void* p, size_t n) { out.append(static_cast<const char*>(p), n); }
};

}  // namespace

// ---- TUxIconFrame ---------------------------------------------------------------------

TUxIconFrame::TUxIconFrame() : Icon(std::make_shared<TIcon>()) {}

void TUxIconFrame::Assign(const TUxIconFrame& source) {
    if (&source == this) return;
    auto icon = std::make_shared<TIcon>();
    if (source.Icon) icon->Assign(*source.Icon);
    Icon = std::move(icon);
    IsIcon = source.IsIcon;
    HotSpotX = source.HotSpotX;
    HotSpotY = source.HotSpotY;
    EntryHotSpots = source.EntryHotSpots;
    Rate = source.Rate;
}

// ---- TUxAni ---------------------------------------------------------------------------

const TGraphicClass& TUxAni::Class() {
    static const TGraphicClass c{"TUxAni", [] { return std::unique_ptr<TGraphic>(new TUxAni); }};
    return c;
}

TUxAni::TUxAni() : timer_(std::make_unique<TTimer>(nullptr)) {
    timer_->SetEnabled(false);
    timer_->SetInterval(100);
    timer_->OnTimer = [this](TComponent*) { Animate(); };
    result_.Icon.reset();
    SetTransparent(true);
}

TUxAni::~TUxAni() {
    timer_.reset();
    images_.clear();
}

void TUxAni::Reset() {
    images_.clear();
    rates_.clear();
    sequence_.clear();
    frameCount_ = 0;
    title_.clear();
    author_.clear();
    header_ = TAniHeader{};
    sourceColorCount_ = 0;
    index_ = -1;
    result_.Icon.reset();
}

void TUxAni::Clear() {
    if (images_.empty()) return;
    Reset();
    Changed();
}

bool TUxAni::Assign(const TGraphic& source) {
    auto* src = dynamic_cast<const TUxAni*>(&source);
    if (!src) return false;
    if (src == this) return true;
    Clear();
    try {
        header_ = src->header_;
        title_ = src->title_;
        author_ = src->author_;
        sourceColorCount_ = src->sourceColorCount_;
        frameCount_ = src->frameCount_;
        rates_ = src->rates_;
        sequence_ = src->sequence_;
        for (const auto& image : src->images_) {
            auto f = std::make_unique<TUxIconFrame>();
            f->Assign(*image);
            images_.push_back(std::move(f));
        }
        index_ = src->index_;
        SetAnimated(src->Animated());
    } catch (...) {
        Reset();
        throw;
    }
    Changed();
    return true;
}

bool TUxAni::AssignTo(TGraphic& dest) {
    if (auto* icon = dynamic_cast<TIcon*>(&dest)) {
        TUxIconFrame* f = Frames(index_);
        if (!f || !f->Icon) icon->SetHandle(nullptr);
        else icon->Assign(*f->Icon);
        return true;
    }
    if (auto* bitmap = dynamic_cast<TBitmap*>(&dest)) {
        FrameStrip(*bitmap, bitmap->Canvas().Brush().Color(), false, true);
        return true;
    }
    return false;
}

void TUxAni::FrameStrip(TBitmap& bitmap, TColor background, bool vertical, bool reduceColors) {
    if (images_.empty() || frameCount_ <= 0) {
        bitmap.SetSize(0, 0);
        return;
    }
    const int w = std::max(1, images_[0]->Icon->Width()), h = std::max(1, images_[0]->Icon->Height());
    // The step count comes from the file: the strip only takes what fits a bitmap.
    const int slots = std::min(frameCount_, kMaxStripPixels / (vertical ? h : w));
    const int keep = index_;
    TBitmap strip(vertical ? w : w * slots, vertical ? h * slots : h, TPixelFormat::pf24bit);
    RECT all{0, 0, strip.Width(), strip.Height()};
    strip.Canvas().Brush().SetColor(background);
    strip.Canvas().FillRect(all);
    for (int i = 0; i < slots; ++i) {
        TUxIconFrame* f = Frames(i);
        if (!f || !f->Icon || f->Icon->Empty()) continue;
        const int x = vertical ? 0 : i * w, y = vertical ? i * h : 0;
        DrawIconEx(strip.Canvas().Handle(), x, y, f->Icon->Handle(), f->Icon->Width(), f->Icon->Height(), 0,
                   nullptr, DI_NORMAL);
    }
    index_ = keep;
    if (reduceColors) {
        auto s = BitmapToMemoryStreamByColours(strip, std::max(sourceColorCount_, 16));
        bitmap.LoadFromStream(*s);
    } else {
        bitmap.Assign(strip);
    }
}

void TUxAni::Draw(TCanvas& canvas, const RECT& rect) {
    TUxIconFrame* f = Frames(index_);
    if (!f || !f->Icon || f->Icon->Empty()) return;
    DrawIconEx(canvas.Handle(), rect.left, rect.top, f->Icon->Handle(), f->Icon->Width(), f->Icon->Height(), 0,
               nullptr, DI_NORMAL);
}

int TUxAni::Width() const {
    auto* self = const_cast<TUxAni*>(this);
    TUxIconFrame* f = self->Frames(index_);
    return f && f->Icon ? f->Icon->Width() : 0;
}

int TUxAni::Height() const {
    auto* self = const_cast<TUxAni*>(this);
    TUxIconFrame* f = self->Frames(index_);
    return f && f->Icon ? f->Icon->Height() : 0;
}

void TUxAni::SetWidth(int) { throw EInvalidGraphic("Impossible de modifier la taille d'une icône"); }
void TUxAni::SetHeight(int) { throw EInvalidGraphic("Impossible de modifier la taille d'une icône"); }

void TUxAni::LoadFromClipboardFormat(UINT, HANDLE) {
    throw EInvalidGraphic("Le Presse-papiers ne supporte pas les icônes");
}
void TUxAni::SaveToClipboardFormat(UINT&, HANDLE&) {
    throw EInvalidGraphic("Le Presse-papiers ne supporte pas les icônes");
}

TUxIconFrame* TUxAni::Frames(int i) {
    if (i < 0 || i >= frameCount_) return nullptr;
    const size_t image = sequence_.empty() ? static_cast<size_t>(i) : sequence_[static_cast<size_t>(i)];
    if (image >= images_.size()) return nullptr;
    const TUxIconFrame& src = *images_[image];
    result_.Icon = src.Icon;
    result_.IsIcon = src.IsIcon;
    result_.HotSpotX = src.HotSpotX;
    result_.HotSpotY = src.HotSpotY;
    result_.EntryHotSpots = src.EntryHotSpots;
    result_.Rate = rates_.empty() ? header_.JifRate
                   : static_cast<size_t>(i) < rates_.size() ? rates_[static_cast<size_t>(i)]
                                                            : header_.JifRate;
    return &result_;
}

TIcon* TUxAni::Icons(int i) {
    if (i < 0 || i >= static_cast<int>(images_.size())) return nullptr;
    return images_[static_cast<size_t>(i)]->Icon.get();
}

void TUxAni::SetIndex(int v) {
    if (v >= 0 && v < frameCount_ && v != index_) {
        index_ = v;
        Changed();
    }
}

bool TUxAni::Animated() const { return timer_->Enabled(); }
void TUxAni::SetAnimated(bool v) { timer_->SetEnabled(v); }
unsigned TUxAni::TimerInterval() const { return timer_->Interval(); }

unsigned TUxAni::RateToInterval(uint32_t rate) {
    // In 64 bits: a rate near 2^32 jiffies would overflow rate * 100 in 32.
    const uint64_t ms = uint64_t{rate} * 100 / 6;
    if (ms == 0) return 100;
    return static_cast<unsigned>(std::min<uint64_t>(ms, std::numeric_limits<unsigned>::max()));
}

void TUxAni::Animate() {
    timer_->SetEnabled(false);
    if (index_ == -1 || frameCount_ <= 0) return;
    index_ = (index_ + 1) % frameCount_;
    TUxIconFrame* f = Frames(index_);
    timer_->SetInterval(RateToInterval(f ? f->Rate : header_.JifRate));
    Changed();
    timer_->SetEnabled(true);
}

void TUxAni::AddImage(const TUxIconFrame& frame) {
    auto f = std::make_unique<TUxIconFrame>();
    f->Assign(frame);
    images_.push_back(std::move(f));
    if (sequence_.empty()) frameCount_ = static_cast<int>(images_.size());
    if (index_ < 0) index_ = 0;
    header_.cbSizeOf = sizeof(TAniHeader);
    header_.Flags |= 1;
    header_.cFrames = static_cast<uint32_t>(images_.size());
    header_.cSteps = static_cast<uint32_t>(frameCount_);
    Changed();
}

void TUxAni::SetSequence(std::vector<uint32_t> sequence) {
    sequence_ = std::move(sequence);
    frameCount_ = static_cast<int>(sequence_.empty() ? images_.size() : sequence_.size());
    header_.cSteps = static_cast<uint32_t>(frameCount_);
    if (index_ >= frameCount_) index_ = frameCount_ ? 0 : -1;
}

// ---- reading --------------------------------------------------------------------------

void TUxAni::LoadFromStream(TStream& stream) {
    const int64_t size = stream.Size() - stream.Position();
    std::string data(static_cast<size_t>(std::max<int64_t>(0, size)), '\0');
    stream.ReadBuffer(data.data(), static_cast<int64_t>(data.size()));
    if (data.empty()) return;
    try {
        Parse(data);
    } catch (...) {
        Reset();
        Changed();
        throw;
    }
    if (frameCount_ > 0) index_ = 0;
    Changed();
}

// Reads one "icon" chunk: an icon or cursor file. False when it cannot be loaded.
bool TUxAni::ReadImage(const std::string& chunk) {
    if (chunk.size() < 6 || U16(chunk, 0) != 0) return false;
    const uint16_t type = U16(chunk, 2), count = U16(chunk, 4);
    if ((type != 1 && type != 2) || count == 0 || chunk.size() < 6 + 16u * count) return false;
    auto frame = std::make_unique<TUxIconFrame>();
    frame->IsIcon = type == 1;
    std::string file = chunk;
    PutU16(file, 2, 1);  // a cursor file becomes an icon file for the icon loader
    for (int i = 0; i < count; ++i) {
        const size_t entry = 6 + 16u * i;
        const uint32_t bytes = U32(chunk, entry + 8), offset = U32(chunk, entry + 12);
        int bits = 0;
        if (offset <= chunk.size() && bytes <= chunk.size() - offset && bytes >= sizeof(BITMAPINFOHEADER)) {
            BITMAPINFOHEADER bih;
            std::memcpy(&bih, chunk.data() + offset, sizeof bih);
            if (bih.biSize >= sizeof bih) {
                bits = bih.biBitCount * std::max<int>(1, bih.biPlanes);
                const int colors = bits == 1 ? 2 : bits == 4 ? 16 : bits == 8 ? 256 : 0;
                sourceColorCount_ = std::max(sourceColorCount_, colors);
            }
        }
        if (!frame->IsIcon) {
            // A cursor entry holds its hot spot where an icon entry holds planes and bit
            // count: keep the hot spot, and give the icon loader the real depth.
            frame->EntryHotSpots.push_back(POINT{U16(chunk, entry + 4), U16(chunk, entry + 6)});
            PutU16(file, entry + 4, 1);
            PutU16(file, entry + 6, static_cast<uint16_t>(std::clamp(bits, 0, 0xFFFF)));
        }
    }
    try {
        TMemoryStream s;
        s.WriteBuffer(file.data(), static_cast<int64_t>(file.size()));
        s.SetPosition(0);
        frame->Icon->LoadFromStream(s);
    } catch (const std::exception&) {
        return false;
    }
    if (frame->IsIcon) {
        frame->HotSpotX = frame->Icon->Width() / 2;
        frame->HotSpotY = frame->Icon->Height() / 2;
    } else {
        // The hot spot of the image the icon shows.
        const int shown = std::max(0, frame->Icon->ImageIndex());
        frame->HotSpotX = frame->EntryHotSpots[static_cast<size_t>(shown)].x;
        frame->HotSpotY = frame->EntryHotSpots[static_cast<size_t>(shown)].y;
    }
    frame->Rate = header_.JifRate;
    images_.push_back(std::move(frame));
    return true;
}

void TUxAni::Parse(const std::string& d) {
    if (d.size() < 12 || d.compare(0, 4, "RIFF") != 0 || d.compare(8, 4, "ACON") != 0) ReadError();
    Reset();
    bool haveSeq = false, haveHeader = false, imagesDone = false;
    size_t pos = 12;
    while (d.size() - pos >= 8) {
        const std::string tag = d.substr(pos, 4);
        const uint64_t size = U32(d, pos + 4);
        pos += 8;
        // Every size is held against what is left; a pad byte missing at the very end is
        // forgiven.
        if (size > d.size() - pos) ReadError();
        const size_t body = pos;
        pos += static_cast<size_t>(std::min<uint64_t>(size + (size % 2), d.size() - pos));
        if (tag == "anih") {
            if (size < sizeof(TAniHeader)) ReadError();
            std::memcpy(&header_, d.data() + body, sizeof header_);
            if (!(header_.Flags & 1) || header_.cFrames == 0) ReadError();
            haveHeader = true;
        } else if (tag == "rate") {
            rates_.assign(static_cast<size_t>(size / 4), 0);
            if (!rates_.empty()) std::memcpy(rates_.data(), d.data() + body, rates_.size() * 4);
        } else if (tag == "seq ") {
            sequence_.assign(static_cast<size_t>(size / 4), 0);
            if (!sequence_.empty()) std::memcpy(sequence_.data(), d.data() + body, sequence_.size() * 4);
            haveSeq = true;
        } else if (tag == "LIST") {
            if (size < 4) ReadError();
            const std::string type = d.substr(body, 4);
            size_t at = body + 4;
            const size_t end = body + static_cast<size_t>(size);
            if (type == "fram") {
                while (end - at > 7) {
                    const std::string sub = d.substr(at, 4);
                    const uint64_t subSize = U32(d, at + 4);
                    at += 8;
                    if (subSize > end - at) ReadError();
                    if (sub == "icon" && !imagesDone) {
                        if (!ReadImage(d.substr(at, static_cast<size_t>(subSize)))) imagesDone = true;
                    }
                    at += static_cast<size_t>(std::min<uint64_t>(subSize + (subSize % 2), end - at));
                }
            } else if (type == "INFO") {
                while (end - at > 7) {
                    const std::string sub = d.substr(at, 4);
                    const uint64_t subSize = U32(d, at + 4);
                    at += 8;
                    if (subSize > end - at) break;  // longer than the list: the list ends
                    if (sub == "INAM") title_ = ChunkText(d, at, static_cast<size_t>(subSize));
                    else if (sub == "IART") author_ = ChunkText(d, at, static_cast<size_t>(subSize));
                    at += static_cast<size_t>(std::min<uint64_t>(subSize + (subSize % 2), end - at));
                }
            }
        }
    }
    if (images_.empty() || !haveHeader) ReadError();
    if (!haveSeq) sequence_.clear();
    frameCount_ = static_cast<int>(haveSeq ? sequence_.size() : images_.size());
    if (frameCount_ == 0) ReadError();
    header_.cFrames = static_cast<uint32_t>(images_.size());
    // Every step must name an image and have a rate when rates are given.
    for (uint32_t s : sequence_)
        if (s >= images_.size()) ReadError();
    if (!rates_.empty() && rates_.size() < static_cast<size_t>(frameCount_)) ReadError();
}

// ---- writing --------------------------------------------------------------------------

void TUxAni::SaveToStream(TStream& stream) {
    if (images_.empty()) throw EInvalidGraphic("Image non valide");
    ChunkWriter w;
    const size_t riff = w.Open("RIFF");
    w.Raw("ACON", 4);
    if (!title_.empty() || !author_.empty()) {
        const size_t list = w.Open("LIST");
        w.Raw("INFO", 4);
        if (!title_.empty()) {
            const size_t c = w.Open("INAM");
            w.Raw(title_.c_str(), title_.size() + 1);
            w.Close(c);
        }
        if (!author_.empty()) {
            const size_t c = w.Open("IART");
            w.Raw(author_.c_str(), author_.size() + 1);
            w.Close(c);
        }
        w.Close(list);
    }
    TAniHeader h = header_;
    h.cbSizeOf = sizeof h;
    h.cFrames = static_cast<uint32_t>(images_.size());
    h.Flags |= 1;
    const size_t anih = w.Open("anih");
    w.Raw(&h, sizeof h);
    w.Close(anih);
    if (!rates_.empty()) {
        const size_t c = w.Open("rate");
        w.Raw(rates_.data(), rates_.size() * 4);
        w.Close(c);
    }
    if (!sequence_.empty()) {
        const size_t c = w.Open("seq ");
        w.Raw(sequence_.data(), sequence_.size() * 4);
        w.Close(c);
    }
    const size_t list = w.Open("LIST");
    w.Raw("fram", 4);
    for (const auto& image : images_) {
        TMemoryStream s;
        image->Icon->SaveToStream(s);
        std::string file = s.Bytes();
        // A cursor stays a cursor: type 2, each directory entry with its own hot spot; the
        // image shown has the frame's (an icon made from a handle has that entry only).
        if (!image->IsIcon && file.size() >= 6) {
            PutU16(file, 2, 2);
            const uint16_t count = U16(file, 4);
            const int shown = image->Icon->ImageIndex();
            const bool own = image->EntryHotSpots.size() == count;
            for (size_t i = 0; i < count && 6 + 16 * (i + 1) <= file.size(); ++i) {
                POINT spot{image->HotSpotX, image->HotSpotY};
                if (own && static_cast<int>(i) != shown) spot = image->EntryHotSpots[i];
                PutU16(file, 6 + 16 * i + 4, static_cast<uint16_t>(spot.x));
                PutU16(file, 6 + 16 * i + 6, static_cast<uint16_t>(spot.y));
            }
        }
        const size_t c = w.Open("icon");
        w.Raw(file.data(), file.size());
        w.Close(c);
    }
    w.Close(list);
    const uint32_t riffSize = static_cast<uint32_t>(w.out.size() - 8);
    std::memcpy(w.out.data() + riff - 4, &riffSize, 4);
    stream.WriteBuffer(w.out.data(), static_cast<int64_t>(w.out.size()));
}
