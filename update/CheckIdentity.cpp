#include "update/CheckIdentity.h"

#include <windows.h>

#include <atomic>
#include <condition_variable>
#include <map>
#include <mutex>
#include <set>

#include "framework/SysUtils.h"
#include "update/PlimFct.h"

namespace {

struct TFileStamp {
    bool exists = false;
    uint64_t size = 0;
    uint64_t written = 0;
    bool operator==(const TFileStamp&) const = default;
};

struct TKept {
    TFileStamp stamp;
    TCheckIdentity identity;
};

std::mutex keptLock;
std::condition_variable keptChanged;
std::map<std::wstring, TKept> kept;  // by upper-case path: Windows names ignore case
std::set<std::wstring> computing;   // files being identified now
std::atomic<unsigned> computations{0};

TFileStamp StampOf(const std::wstring& path) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    TFileStamp stamp;
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return stamp;
    stamp.exists = true;
    stamp.size = (uint64_t(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    stamp.written = (uint64_t(data.ftLastWriteTime.dwHighDateTime) << 32) | data.ftLastWriteTime.dwLowDateTime;
    return stamp;
}

std::wstring UpperCase(std::wstring text) {
    if (!text.empty()) CharUpperBuffW(text.data(), static_cast<DWORD>(text.size()));
    return text;
}

}  // namespace

TCheckIdentity GetCheckIdentity(const std::string& ExePath) { return GetCheckIdentity(framework::AnsiToWide(ExePath)); }

TCheckIdentity GetCheckIdentity(const std::wstring& ExePath) {
    const std::wstring key = UpperCase(ExePath);
    const TFileStamp stamp = StampOf(ExePath);
    {
        std::unique_lock<std::mutex> l(keptLock);
        // One identification of a file at a time: a caller that finds one running (the
        // start-up's, say) waits for its answer rather than doing the same work again.
        keptChanged.wait(l, [&] { return !computing.count(key); });
        const auto it = kept.find(key);
        if (stamp.exists && it != kept.end() && it->second.stamp == stamp) return it->second.identity;
        computing.insert(key);
    }
    // Outside the lock: identification may take long, and another thread may ask for
    // another file meanwhile.
    auto done = [&](const TCheckIdentity* identity) {
        std::lock_guard<std::mutex> l(keptLock);
        computing.erase(key);
        // A file that is not there (or changed while it was read) is not kept: what was read
        // may not be what the next check finds.
        if (identity && stamp.exists && StampOf(ExePath) == stamp) kept[key] = TKept{stamp, *identity};
        keptChanged.notify_all();
    };
    TCheckIdentity identity;
    try {
        TDisplayedFileInfo info;
        GetDisplayedFileInfo(ExePath, info);
        identity.ProductName = info.ProductName;
        identity.CompanyName = info.CompanyName;
        GetFileVersionText(ExePath, "", "", identity.VersionText, false);
    } catch (...) {
        done(nullptr);
        throw;
    }
    ++computations;
    done(&identity);
    return identity;
}

void ClearCheckIdentities() {
    std::lock_guard<std::mutex> l(keptLock);
    kept.clear();
}

unsigned CheckIdentityComputations() { return computations.load(); }
