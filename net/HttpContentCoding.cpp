#include "net/HttpContentCoding.h"

#include <cstdio>
#include <cstring>

#include "net/InetUtils.h"

namespace {

const char kClassPrefix[] = "THttpContentCoding";

template <class T>
std::unique_ptr<THttpContentCoding> Make(THttpWriteProc Next) {
    return std::make_unique<T>(std::move(Next));
}

// The comma-separated names of a list, trimmed, empty ones left out.
std::vector<std::string> Names(const std::string& list) {
    std::vector<std::string> r;
    size_t start = 0;
    for (;;) {
        size_t comma = list.find(',', start);
        std::string name = InetTrimBlanks(list.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
        if (!name.empty()) r.push_back(name);
        if (comma == std::string::npos) return r;
        start = comma + 1;
    }
}

bool ListHolds(const std::string& list, const std::string& name) {
    for (const std::string& n : Names(list))
        if (InetTextCompare(n, name) == 0) return true;
    return false;
}

// "0.###": up to three decimals, no trailing zeros, "." whatever the locale.
std::string QualityText(float q) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", double(q));
    std::string s = text;
    for (char& c : s)
        if (c == ',') c = '.';
    size_t point = s.find('.');
    if (point != std::string::npos) {
        while (s.back() == '0') s.pop_back();
        if (s.back() == '.') s.pop_back();
    }
    return s;
}

}  // namespace

std::string THttpContentCodingClass::GetCoding() const {
    if (GetCodingProc) return GetCodingProc();
    const size_t n = sizeof kClassPrefix - 1;
    if (std::strncmp(ClassName, kClassPrefix, n) == 0) return ClassName + n;
    throw EHttpContentCodingException(std::string("GetCoding must be overridden in ") + ClassName);
}

bool THttpContentCodingClass::GetActive() const { return GetActiveProc ? GetActiveProc() : true; }

const THttpContentCodingClass THttpCCodIdentity::Class = {
    "THttpCCodIdentity", [] { return std::string("identity"); }, nullptr, Make<THttpCCodIdentity>};
const THttpContentCodingClass THttpCCodStar::Class = {"THttpCCodStar", [] { return std::string("*"); }, nullptr,
                                                      Make<THttpCCodStar>};

void TCodingsList::Register(const THttpContentCodingClass& CodingClass, float Quality) {
    entries_.push_back({&CodingClass, Quality});
}

const THttpContentCodingClass* TCodingsList::Find(const std::string& Name) const {
    for (auto it = entries_.rbegin(); it != entries_.rend(); ++it)
        if (ListHolds(it->CodingClass->GetCoding(), Name)) return it->CodingClass;
    return nullptr;
}

TCodingsList& HttpContentCodings() {
    static TCodingsList list = [] {
        TCodingsList l;
        l.Register(THttpCCodIdentity::Class, 0);
        l.Register(THttpCCodStar::Class, 0);
        return l;
    }();
    return list;
}

THttpCodingHandler::THttpCodingHandler(framework::TStream* const* OutputStream, THttpWriteProc DocData,
                                       const TCodingsList& Registry)
    : outputStream_(OutputStream), docData_(std::move(DocData)), registry_(&Registry) {
    input_ = [this](const void* b, size_t n) { Output(b, n); };
    for (const auto& e : Registry.Entries()) items_.push_back({e.CodingClass, true, e.Quality});
}

THttpCodingHandler::~THttpCodingHandler() {
    decoders_.clear();
    items_.clear();
}

void THttpCodingHandler::SetUseQuality(bool Value) {
    if (Value != useQuality_) recalc_ = true;
    useQuality_ = Value;
}

THttpCodingItem* THttpCodingHandler::ItemByName(const std::string& Name) {
    for (auto& item : items_)
        if (ListHolds(item.CodingClass->GetCoding(), Name)) return &item;
    return nullptr;
}

bool THttpCodingHandler::SetCodingEnabled(const std::string& Name, bool Value) {
    THttpCodingItem* item = ItemByName(Name);
    if (!item) return false;
    if (item->Enabled != Value) recalc_ = true;
    item->Enabled = Value;
    return true;
}

bool THttpCodingHandler::SetCodingQuality(const std::string& Name, float Value) {
    THttpCodingItem* item = ItemByName(Name);
    if (!item) return false;
    if (item->Quality != Value) recalc_ = true;
    item->Quality = Value;
    return true;
}

std::string THttpCodingHandler::GetAcceptEncoding() {
    if (!enabled_) return {};
    if (recalc_) {
        size_t usable = 0;
        for (const auto& item : items_)
            if (item.Enabled && item.CodingClass->GetActive()) ++usable;
        const bool qualityMode = useQuality_ && usable >= 2;
        std::string text;
        for (const auto& item : items_) {
            if (!item.Enabled || !item.CodingClass->GetActive()) continue;
            if (!qualityMode && !(item.Quality > 0)) continue;
            if (!text.empty()) text += ", ";
            text += item.CodingClass->GetCoding();
            if (qualityMode) text += ";q=" + QualityText(item.Quality);
        }
        acceptEncoding_ = text;
        recalc_ = false;
    }
    return acceptEncoding_;
}

bool THttpCodingHandler::Prepare(const std::string& ContentEncoding) {
    decoders_.clear();
    input_ = [this](const void* b, size_t n) { Output(b, n); };
    if (!enabled_ || ContentEncoding.empty()) return true;
    for (const std::string& name : Names(ContentEncoding)) {
        const THttpContentCodingClass* coding = registry_->Find(name);
        if (!coding) {
            decoders_.clear();
            input_ = [this](const void* b, size_t n) { Output(b, n); };
            return false;
        }
        decoders_.push_back(coding->Create(input_));
        THttpContentCoding* stage = decoders_.back().get();
        input_ = [stage](const void* b, size_t n) { stage->WriteBuffer(b, n); };
    }
    return true;
}

void THttpCodingHandler::WriteBuffer(const void* Buffer, size_t Count) { input_(Buffer, Count); }

void THttpCodingHandler::Complete() {
    for (auto it = decoders_.rbegin(); it != decoders_.rend(); ++it) (*it)->Complete();
}

void THttpCodingHandler::Output(const void* Buffer, size_t Count) {
    if (outputStream_ && *outputStream_) (*outputStream_)->WriteBuffer(Buffer, int64_t(Count));
    if (docData_) docData_(Buffer, Count);
}
