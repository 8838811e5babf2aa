#include "components/KitFileVersionInfo.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "framework/SysUtils.h"

using framework::TStringList;

bool FileIsPresent(const std::wstring& Path) {
    if (Path.empty()) return false;
    const DWORD attributes = GetFileAttributesW(Path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool FileIsPresent(const std::string& Path) { return FileIsPresent(framework::AnsiToWide(Path)); }

std::string ModuleFullPath(HMODULE Module) { return framework::GetModuleFileNameText(Module); }

bool ReadFixedFileInfo(const std::wstring& Path, VS_FIXEDFILEINFO& Info) {
    std::string data;
    if (!framework::ReadVersionResource(Path, data)) return false;
    void* value = nullptr;
    UINT length = 0;
    if (!VerQueryValueW(data.data(), L"\\", &value, &length) || !value || length != sizeof(VS_FIXEDFILEINFO))
        return false;
    std::memcpy(&Info, value, sizeof Info);
    return true;
}

bool ReadFixedFileInfo(const std::string& Path, VS_FIXEDFILEINFO& Info) {
    return ReadFixedFileInfo(framework::AnsiToWide(Path), Info);
}

namespace {

constexpr const char* kStandardKeys[12] = {
    "Comments",     "CompanyName",      "FileDescription", "FileVersion",    "InternalName", "LegalCopyright",
    "LegalTradeMarks", "OriginalFilename", "ProductName",  "ProductVersion", "SpecialBuild", "PrivateBuild"};

const char* const kNoVersionInfo = "File contains no version information";

// One block of the resource: where it starts and ends (already clamped to its parent), its
// header words, its key, and where its value and its children start.
struct Block {
    size_t start = 0;
    size_t end = 0;
    uint16_t valueLength = 0;
    uint16_t type = 1;
    std::string key;
    size_t value = 0;
    size_t children = 0;
};

enum class HeaderResult { Ok, ZeroLength, Bad };

// Walks the resource with every read bounded by the block being read and by the buffer.
class Reader {
public:
    Reader(const std::string& data, bool wide) : d_(data), wide_(wide) {}

    size_t Size() const { return d_.size(); }
    // The next multiple of 4 from the start of the buffer.
    static size_t Pad(size_t p) { return (p + 3) & ~static_cast<size_t>(3); }

    uint16_t Word(size_t p) const {
        uint16_t w = 0;
        std::memcpy(&w, d_.data() + p, 2);
        return w;
    }
    uint32_t DWord(size_t p) const {
        uint32_t w = 0;
        std::memcpy(&w, d_.data() + p, 4);
        return w;
    }

    // Reads the header of the block at p, which must lie inside [p, limit).
    HeaderResult Header(size_t p, size_t limit, Block& b) const {
        limit = std::min(limit, d_.size());
        const size_t headerSize = wide_ ? 6 : 4;
        if (p >= limit || limit - p < 2) return HeaderResult::Bad;
        const uint16_t length = Word(p);
        if (length == 0) return HeaderResult::ZeroLength;
        if (length < headerSize || length > limit - p) return HeaderResult::Bad;
        b.start = p;
        b.end = p + length;
        b.valueLength = Word(p + 2);
        b.type = wide_ ? Word(p + 4) : 1;
        size_t q = p + headerSize;
        b.key.clear();
        if (wide_) {
            std::wstring key;
            for (;; q += 2) {
                if (b.end - q < 2) return HeaderResult::Bad;  // key without its terminator
                const wchar_t c = static_cast<wchar_t>(Word(q));
                if (c == 0) break;
                key.push_back(c);
            }
            q += 2;
            b.key = framework::WideToAnsi(key);
        } else {
            for (;; ++q) {
                if (q >= b.end) return HeaderResult::Bad;
                if (d_[q] == 0) break;
                b.key.push_back(d_[q]);
            }
            ++q;
        }
        b.value = Pad(q);
        const size_t valueBytes = (wide_ && b.type == 1) ? size_t{b.valueLength} * 2 : b.valueLength;
        b.children = Pad(b.value + valueBytes);
        return HeaderResult::Ok;
    }

    // After a zero length word: only zero bytes may follow up to the limit.
    bool OnlyZerosUpTo(size_t p, size_t limit) const {
        limit = std::min(limit, d_.size());
        for (; p < limit; ++p)
            if (d_[p] != 0) return false;
        return true;
    }

    // The value bytes of a block, cut at the block's end.
    size_t ValueBytesAvailable(const Block& b) const { return b.value < b.end ? b.end - b.value : 0; }

    std::string WideText(size_t p, size_t maxChars, size_t limit) const {
        std::wstring s;
        for (size_t i = 0; i < maxChars && limit >= p + 2 && p <= limit - 2; ++i, p += 2) {
            const wchar_t c = static_cast<wchar_t>(Word(p));
            if (c == 0) break;
            s.push_back(c);
        }
        return framework::WideToAnsi(s);
    }

    std::string AnsiText(size_t p, size_t limit) const {
        std::string s;
        for (; p < limit && d_[p] != 0; ++p) s.push_back(d_[p]);
        return s;
    }

    const std::string& d_;
    bool wide_;
};

// Only hexadecimal digits of a table key stay, after every "0x" is gone.
std::string CleanLanguageKey(std::string key) {
    for (size_t at; (at = key.find("0x")) != std::string::npos;) key.erase(at, 2);
    std::string clean;
    for (char c : key)
        if (CharIsHexDigit(c)) clean.push_back(c);
    return clean;
}

uint32_t HexOrZero(const std::string& s) {
    uint32_t v = 0;
    for (char c : s) {
        v <<= 4;
        if (c >= '0' && c <= '9') v |= c - '0';
        else if (c >= 'a' && c <= 'f') v |= c - 'a' + 10;
        else if (c >= 'A' && c <= 'F') v |= c - 'A' + 10;
        else return 0;
    }
    return v;
}

void* AsObject(uint32_t v) { return reinterpret_cast<void*>(static_cast<uintptr_t>(v)); }
uint32_t FromObject(void* p) { return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(p)); }

}  // namespace

TKitFileVersionInfo::TKitFileVersionInfo(const std::wstring& FileName) {
    if (!FileIsPresent(FileName))
        throw EKitFileVersionInfoError("The file " + framework::WideToAnsi(FileName) + " does not exist");
    DWORD handle = 0;
    const DWORD size = GetFileVersionInfoSizeW(FileName.c_str(), &handle);
    if (size == 0) throw EKitFileVersionInfoError(kNoVersionInfo);
    buffer_.assign(size, '\0');
    if (!GetFileVersionInfoW(FileName.c_str(), handle, size, buffer_.data())) framework::RaiseLastOSError();
    Parse();
}

TKitFileVersionInfo::TKitFileVersionInfo(const std::string& FileName)
    : TKitFileVersionInfo(framework::AnsiToWide(FileName)) {}

std::unique_ptr<TKitFileVersionInfo> TKitFileVersionInfo::FromBuffer(std::string Data) {
    std::unique_ptr<TKitFileVersionInfo> info(new TKitFileVersionInfo());
    info->buffer_ = std::move(Data);
    info->Parse();
    return info;
}

TKitFileVersionInfo::~TKitFileVersionInfo() {
    items_.reset();
    itemList_.reset();
}

void TKitFileVersionInfo::Parse() {
    itemList_ = std::make_unique<TStringList>();
    items_ = std::make_unique<TStringList>();
    bool invalid = true;

    // The 32-bit layout has a type word (0 or 1) at offset 4; the 16-bit one has text there.
    const bool wide = buffer_.size() >= 6 && Reader(buffer_, true).Word(4) < 2;
    const Reader r(buffer_, wide);

    Block root;
    if (r.Header(0, r.Size(), root) == HeaderResult::Ok && framework::SameText(root.key, "VS_VERSION_INFO") &&
        root.valueLength == sizeof(VS_FIXEDFILEINFO) && r.ValueBytesAvailable(root) >= sizeof(VS_FIXEDFILEINFO)) {
        std::memcpy(&fixedInfo_, buffer_.data() + root.value, sizeof fixedInfo_);
        invalid = fixedInfo_.dwSignature != VS_FFI_SIGNATURE;
    }

    // A zero length ends the walk of its level; anything but zero bytes after it is damage.
    auto zeroLength = [&](size_t p, size_t limit) {
        if (!r.OnlyZerosUpTo(p, limit)) invalid = true;
    };

    auto readStrings = [&](const Block& table, uint32_t tableNo) {
        for (size_t s = table.children; !invalid && s < table.end;) {
            Block e;
            const HeaderResult h = r.Header(s, table.end, e);
            if (h == HeaderResult::ZeroLength) return zeroLength(s, table.end);
            if (h == HeaderResult::Bad) {
                invalid = true;
                return;
            }
            std::string value;
            const size_t avail = r.ValueBytesAvailable(e);
            if (e.type == 1) {
                if (e.valueLength == 0)
                    value.clear();
                else if (wide)
                    value = r.WideText(e.value, e.valueLength, e.end);
                else
                    value = r.AnsiText(e.value, e.end);
            } else if (e.type == 0) {
                if (e.valueLength >= 1 && e.valueLength <= 4) {
                    if (avail < e.valueLength) {
                        invalid = true;
                        return;
                    }
                    // Only the value's own bytes: a short value is not padded with what follows.
                    uint32_t word = 0;
                    std::memcpy(&word, buffer_.data() + e.value, e.valueLength);
                    char text[16];
                    std::snprintf(text, sizeof text, "$%.*X", int(e.valueLength) * 2, static_cast<unsigned>(word));
                    value = text;
                } else if (wide) {
                    value = r.WideText(e.value, avail / 2, e.end);
                }
            } else {
                invalid = true;
                return;
            }
            itemList_->Add(e.key + "=" + value, AsObject(tableNo));
            s = Reader::Pad(e.end);
        }
    };

    auto readStringFileInfo = [&](const Block& sfi) {
        for (size_t q = sfi.children; !invalid && q < sfi.end;) {
            Block table;
            const HeaderResult h = r.Header(q, sfi.end, table);
            if (h == HeaderResult::ZeroLength) return zeroLength(q, sfi.end);
            if (h == HeaderResult::Bad) {
                invalid = true;
                return;
            }
            const std::string key = CleanLanguageKey(table.key);
            if (table.valueLength != 0 || key.size() != 8) {
                invalid = true;
                return;
            }
            const uint32_t language = HexOrZero(key.substr(0, 4));
            const uint32_t codePage = HexOrZero(key.substr(4, 4));
            const auto tableNo = static_cast<uint32_t>(languages_.size());
            languages_.push_back((codePage << 16) | language);
            readStrings(table, tableNo);
            q = Reader::Pad(table.end);
        }
    };

    auto readVarFileInfo = [&](const Block& vfi) {
        Block var;
        if (vfi.children >= vfi.end) return;
        const HeaderResult h = r.Header(vfi.children, vfi.end, var);
        if (h == HeaderResult::ZeroLength) return zeroLength(vfi.children, vfi.end);
        if (h == HeaderResult::Bad) {
            invalid = true;
            return;
        }
        if (!framework::SameText(var.key, "Translation")) return;
        const size_t count = std::min<size_t>(var.valueLength, r.ValueBytesAvailable(var)) / 4;
        translations_.clear();
        for (size_t i = 0; i < count; ++i) translations_.push_back(r.DWord(var.value + 4 * i));
    };

    for (size_t p = root.children; !invalid && p < root.end;) {
        Block child;
        const HeaderResult h = r.Header(p, root.end, child);
        if (h == HeaderResult::ZeroLength) {
            zeroLength(p, root.end);
            break;
        }
        if (h == HeaderResult::Bad) {
            invalid = true;
            break;
        }
        if (framework::SameText(child.key, "StringFileInfo"))
            readStringFileInfo(child);
        else if (framework::SameText(child.key, "VarFileInfo"))
            readVarFileInfo(child);
        else
            break;
        p = Reader::Pad(child.end);
    }

    if (!invalid) fileFlags_ = fixedInfo_.dwFileFlags & fixedInfo_.dwFileFlagsMask;

    items_->Clear();
    for (int i = 0; i < itemList_->Count(); ++i) {
        const uint32_t table = FromObject(itemList_->Objects(i));
        if (table == static_cast<uint32_t>(languageIndex_)) items_->Add((*itemList_)[i], AsObject(languages_[table]));
    }

    if (invalid) throw EKitFileVersionInfoError(kNoVersionInfo);
}

bool TKitFileVersionInfo::HasFileFlag(TKitFileFlag Flag) const {
    static constexpr uint32_t kBits[] = {VS_FF_DEBUG,        VS_FF_INFOINFERRED,  VS_FF_PATCHED,
                                         VS_FF_PRERELEASE,   VS_FF_PRIVATEBUILD,  VS_FF_SPECIALBUILD};
    return (fileFlags_ & kBits[static_cast<int>(Flag)]) != 0;
}

const char* TKitFileVersionInfo::StandardKeyName(int Index) {
    return Index >= 1 && Index <= 12 ? kStandardKeys[Index - 1] : "";
}

std::string TKitFileVersionInfo::GetStandardKey(int Index) const {
    if (Index < 1 || Index > 12) return std::string();
    const std::string name = kStandardKeys[Index - 1];
    for (int i = 0; i < items_->Count(); ++i) {
        const std::string& entry = (*items_)[i];
        const size_t eq = entry.find('=');
        if (eq != std::string::npos && framework::SameText(entry.substr(0, eq), name)) return entry.substr(eq + 1);
    }
    return std::string();
}
