// A height-balanced search tree of untyped pointers. Ordering, equality and what happens to
// an item when it leaves the tree are virtual, so a descendant decides what the pointers
// mean; TThreadStoreTree keys items by the thread id in their first 32-bit field.
#pragma once

#include <cstdint>

struct TInetAvlNode {
    void* Item = nullptr;
    int32_t Height = 0;  // a leaf has 0, a missing child counts as -1
    TInetAvlNode* Parent = nullptr;
    TInetAvlNode* Left = nullptr;
    TInetAvlNode* Right = nullptr;
};

class TInetAvlPointerTree {
public:
    explicit TInetAvlPointerTree(bool AllowDuplicates);
    virtual ~TInetAvlPointerTree();
    TInetAvlPointerTree(const TInetAvlPointerTree&) = delete;
    TInetAvlPointerTree& operator=(const TInetAvlPointerTree&) = delete;

    // False when duplicates are not allowed and an equal item is stored.
    bool Insert(void* Item);
    // Removes one stored item equal to Item; false when there is none.
    bool Remove(void* Item);
    // The stored item equal to Item, or nullptr with Found false.
    void* Find(void* Item, bool& Found) const;
    // Removes every item (ItemNotify(item, 1) for each), without recursion.
    void Clear();

    TInetAvlNode* Root() const { return root_; }
    int Count() const { return count_; }
    bool AllowDuplicates() const { return allowDuplicates_; }
    TInetAvlNode* First() const;
    TInetAvlNode* Last() const;
    static TInetAvlNode* Successor(TInetAvlNode* Node);
    static TInetAvlNode* Predecessor(TInetAvlNode* Node);

    // A node an iteration stands on: when it is removed, it moves on in CursorForward's
    // direction, so walking a tree while removing from it stays safe.
    TInetAvlNode* Cursor = nullptr;
    bool CursorForward = true;

protected:
    virtual bool Less(void* A, void* B) const { return reinterpret_cast<uintptr_t>(A) < reinterpret_cast<uintptr_t>(B); }
    virtual bool Equal(void* A, void* B) const { return A == B; }
    // Action 0 after an item went in, 1 when it leaves (Remove or Clear).
    virtual void ItemNotify(void* Item, int Action) {}

private:
    static int32_t H(TInetAvlNode* N) { return N ? N->Height : -1; }
    static void Fix(TInetAvlNode* N);
    void Replace(TInetAvlNode* Old, TInetAvlNode* New);
    TInetAvlNode* RotateLeft(TInetAvlNode* N);
    TInetAvlNode* RotateRight(TInetAvlNode* N);
    // Restores balance at N; returns the subtree's new top.
    TInetAvlNode* Rebalance(TInetAvlNode* N);
    TInetAvlNode* FindNode(void* Item) const;

    TInetAvlNode* root_ = nullptr;
    int count_ = 0;
    bool allowDuplicates_;
};

// Items are records whose first field is a 32-bit thread id; a removed item is freed with
// operator delete on the record type the store gave it (see TThreadStoreEntry).
struct TThreadStoreEntry {
    uint32_t OwnerThread = 0;
    int Users = 0;
    void* Value = nullptr;
};

class TThreadStoreTree : public TInetAvlPointerTree {
public:
    TThreadStoreTree() : TInetAvlPointerTree(false) {}
    ~TThreadStoreTree() override { Clear(); }

protected:
    bool Less(void* A, void* B) const override {
        return *static_cast<uint32_t*>(A) < *static_cast<uint32_t*>(B);
    }
    bool Equal(void* A, void* B) const override {
        return *static_cast<uint32_t*>(A) == *static_cast<uint32_t*>(B);
    }
    void ItemNotify(void* Item, int Action) override {
        if (Action == 1) delete static_cast<TThreadStoreEntry*>(Item);
    }
};
