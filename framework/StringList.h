// TStringList: an ordered list of ANSI strings, each with an optional object pointer.
//
// Kept in a deque so inserting at the top and dropping the bottom line (what the log does
// for every line) costs no copy of the list. Text joins lines with CR LF; loading accepts
// CR LF, LF or CR line breaks. IndexOf compares case-insensitively (ANSI code page), and a
// sorted list keeps its order on Add and honours its Duplicates rule.
#pragma once

#include <cstddef>
#include <deque>
#include <string>

namespace framework {

enum class TDuplicates { dupIgnore, dupAccept, dupError };

class TStringList {
public:
    TStringList() = default;

    int Count() const { return static_cast<int>(items_.size()); }
    bool Empty() const { return items_.empty(); }

    const std::string& operator[](int index) const { return items_.at(index).text; }
    const std::string& Strings(int index) const { return items_.at(index).text; }
    void SetStrings(int index, const std::string& s) { items_.at(index).text = s; }
    void* Objects(int index) const { return items_.at(index).object; }
    void SetObjects(int index, void* object) { items_.at(index).object = object; }

    // Adds at the end, or at its sorted place when Sorted. Returns the index, or -1 when a
    // duplicate was ignored. A duplicate under dupError raises framework::Exception.
    int Add(const std::string& s, void* object = nullptr);
    void Insert(int index, const std::string& s, void* object = nullptr);
    void Insert(int index, std::string&& s, void* object = nullptr);
    void Delete(int index);
    void Clear() { items_.clear(); }

    // Case-insensitive search; -1 when absent.
    int IndexOf(const std::string& s) const;

    bool Sorted() const { return sorted_; }
    void SetSorted(bool sorted);
    TDuplicates Duplicates() const { return duplicates_; }
    void SetDuplicates(TDuplicates d) { duplicates_ = d; }

    // All lines, each followed by CR LF.
    std::string Text() const;
    // Replaces the contents with the lines of the text.
    void SetText(const std::string& text);

    // Loading a missing or unreadable file returns false and leaves the list unchanged.
    bool LoadFromFile(const std::string& fileName);
    // Writes the text, replacing the file; false when the file cannot be written.
    bool SaveToFile(const std::string& fileName) const;

private:
    struct Item {
        std::string text;
        void* object = nullptr;
    };

    // Index where s belongs in the sorted list; found tells whether an equal entry is there.
    int FindSorted(const std::string& s, bool& found) const;

    std::deque<Item> items_;
    bool sorted_ = false;
    TDuplicates duplicates_ = TDuplicates::dupIgnore;
};

// ANSI case-insensitive comparison, as the list uses it (<0, 0, >0).
int CompareText(const std::string& a, const std::string& b);
bool SameText(const std::string& a, const std::string& b);

}  // namespace framework
