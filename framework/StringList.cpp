#include "framework/StringList.h"

#include <windows.h>

#include <algorithm>
#include <utility>

#include "framework/Exception.h"
#include "framework/SysUtils.h"

namespace framework {

int CompareText(const std::string& a, const std::string& b) {
    // CompareStringA with NORM_IGNORECASE follows the ANSI code page, as the lists need.
    const int r = CompareStringA(LOCALE_USER_DEFAULT, NORM_IGNORECASE, a.data(),
                                 static_cast<int>(a.size()), b.data(), static_cast<int>(b.size()));
    return r == 0 ? a.compare(b) : r - CSTR_EQUAL;
}

bool SameText(const std::string& a, const std::string& b) {
    return a.size() == b.size() && CompareText(a, b) == 0;
}

int TStringList::FindSorted(const std::string& s, bool& found) const {
    int lo = 0;
    int hi = Count() - 1;
    found = false;
    while (lo <= hi) {
        const int mid = (lo + hi) / 2;
        const int c = CompareText(items_[mid].text, s);
        if (c < 0) {
            lo = mid + 1;
        } else {
            hi = mid - 1;
            if (c == 0) found = true;
        }
    }
    return lo;
}

int TStringList::Add(const std::string& s, void* object) {
    if (!sorted_) {
        items_.push_back({s, object});
        return Count() - 1;
    }
    bool found = false;
    int at = FindSorted(s, found);
    if (found) {
        if (duplicates_ == TDuplicates::dupIgnore) return -1;
        if (duplicates_ == TDuplicates::dupError)
            throw Exception("String list does not allow duplicates");
    }
    items_.insert(items_.begin() + at, Item{s, object});
    return at;
}

void TStringList::Insert(int index, const std::string& s, void* object) {
    if (sorted_) throw Exception("Operation not allowed on sorted list");
    if (index < 0 || index > Count()) throw Exception("List index out of bounds");
    if (index == 0)
        items_.push_front({s, object});
    else
        items_.insert(items_.begin() + index, Item{s, object});
}

void TStringList::Insert(int index, std::string&& s, void* object) {
    if (sorted_) throw Exception("Operation not allowed on sorted list");
    if (index < 0 || index > Count()) throw Exception("List index out of bounds");
    if (index == 0)
        items_.push_front({std::move(s), object});
    else
        items_.insert(items_.begin() + index, Item{std::move(s), object});
}

void TStringList::Delete(int index) {
    if (index < 0 || index >= Count()) throw Exception("List index out of bounds");
    if (index == Count() - 1)
        items_.pop_back();
    else
        items_.erase(items_.begin() + index);
}

int TStringList::IndexOf(const std::string& s) const {
    if (sorted_) {
        bool found = false;
        const int at = FindSorted(s, found);
        return found ? at : -1;
    }
    for (int i = 0; i < Count(); ++i)
        if (SameText(items_[i].text, s)) return i;
    return -1;
}

void TStringList::SetSorted(bool sorted) {
    if (sorted && !sorted_) {
        std::stable_sort(items_.begin(), items_.end(), [](const Item& a, const Item& b) {
            return CompareText(a.text, b.text) < 0;
        });
    }
    sorted_ = sorted;
}

std::string TStringList::Text() const {
    std::string out;
    for (const Item& item : items_) {
        out += item.text;
        out += "\r\n";
    }
    return out;
}

void TStringList::SetText(const std::string& text) {
    std::deque<Item> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find_first_of("\r\n", start);
        if (end == std::string::npos) {
            lines.push_back({text.substr(start), nullptr});
            break;
        }
        lines.push_back({text.substr(start, end - start), nullptr});
        start = end + 1;
        if (text[end] == '\r' && start < text.size() && text[start] == '\n') ++start;
    }
    items_ = std::move(lines);
    if (sorted_) {
        sorted_ = false;
        SetSorted(true);
    }
}

bool TStringList::LoadFromFile(const std::string& fileName) {
    std::string data;
    if (!ReadFileBytes(fileName, data)) return false;
    SetText(data);
    return true;
}

bool TStringList::SaveToFile(const std::string& fileName) const {
    return WriteFileBytes(fileName, Text());
}

}  // namespace framework
