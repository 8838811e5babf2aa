// The AVL pointer tree against std::multiset under random operations, its balance, and the
// thread-store descendant.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <set>
#include <vector>

#include "net/InetAvlTree.h"

namespace {

void* P(uintptr_t v) { return reinterpret_cast<void*>(v); }
uintptr_t V(void* p) { return reinterpret_cast<uintptr_t>(p); }

// Heights, parent links and the balance of every node; returns the subtree height.
int Check(TInetAvlNode* n, TInetAvlNode* parent, int& count) {
    if (!n) return -1;
    EXPECT_EQ(n->Parent, parent);
    ++count;
    const int l = Check(n->Left, n, count), r = Check(n->Right, n, count);
    EXPECT_LE(std::abs(l - r), 1);
    EXPECT_EQ(n->Height, 1 + std::max(l, r));
    return n->Height;
}

std::vector<uintptr_t> InOrder(const TInetAvlPointerTree& t) {
    std::vector<uintptr_t> v;
    for (TInetAvlNode* n = t.First(); n; n = TInetAvlPointerTree::Successor(n)) v.push_back(V(n->Item));
    return v;
}

}  // namespace

TEST(InetAvlTree, RandomOperationsMatchMultiset) {
    for (bool dup : {false, true}) {
        TInetAvlPointerTree tree(dup);
        std::multiset<uintptr_t> ref;
        std::mt19937 rng(dup ? 7 : 11);
        for (int i = 0; i < 20000; ++i) {
            const uintptr_t v = 1 + rng() % 300;
            switch (rng() % 3) {
                case 0:
                case 1: {
                    const bool present = ref.count(v) > 0;
                    const bool ins = tree.Insert(P(v));
                    ASSERT_EQ(ins, dup || !present);
                    if (ins) ref.insert(v);
                    break;
                }
                default: {
                    auto it = ref.find(v);
                    ASSERT_EQ(tree.Remove(P(v)), it != ref.end());
                    if (it != ref.end()) ref.erase(it);
                }
            }
            bool found;
            tree.Find(P(v), found);
            ASSERT_EQ(found, ref.count(v) > 0);
            if (i % 500 == 0) {
                int count = 0;
                Check(tree.Root(), nullptr, count);
                ASSERT_EQ(count, tree.Count());
                ASSERT_EQ(InOrder(tree), std::vector<uintptr_t>(ref.begin(), ref.end()));
            }
        }
        ASSERT_EQ(size_t(tree.Count()), ref.size());
        ASSERT_EQ(InOrder(tree), std::vector<uintptr_t>(ref.begin(), ref.end()));
        tree.Clear();
        EXPECT_EQ(tree.Count(), 0);
        EXPECT_EQ(tree.Root(), nullptr);
    }
}

TEST(InetAvlTree, AscendingInsertStaysShallowAndRootRemovalKeepsTreeValid) {
    TInetAvlPointerTree tree(false);
    for (uintptr_t i = 1; i <= 1000; ++i) ASSERT_TRUE(tree.Insert(P(i)));
    int count = 0;
    Check(tree.Root(), nullptr, count);
    EXPECT_LE(tree.Root()->Height, 13);
    EXPECT_FALSE(tree.Insert(P(500)));
    EXPECT_EQ(tree.Count(), 1000);
    EXPECT_FALSE(tree.Remove(P(5000)));

    TInetAvlPointerTree small(false);
    for (uintptr_t i : {2, 1, 3}) small.Insert(P(i));
    ASSERT_TRUE(small.Remove(small.Root()->Item));
    count = 0;
    Check(small.Root(), nullptr, count);
    EXPECT_EQ(InOrder(small), (std::vector<uintptr_t>{1, 3}));
}

TEST(InetAvlTree, CursorMovesOnWhenItsNodeIsRemoved) {
    TInetAvlPointerTree tree(false);
    for (uintptr_t i = 1; i <= 50; ++i) tree.Insert(P(i));
    // Walk forwards removing every even item through the cursor.
    std::vector<uintptr_t> seen;
    tree.CursorForward = true;
    tree.Cursor = tree.First();
    while (tree.Cursor) {
        const uintptr_t v = V(tree.Cursor->Item);
        seen.push_back(v);
        if (v % 2 == 0)
            tree.Remove(P(v));
        else
            tree.Cursor = TInetAvlPointerTree::Successor(tree.Cursor);
    }
    ASSERT_EQ(seen.size(), 50u);
    for (size_t i = 0; i < seen.size(); ++i) EXPECT_EQ(seen[i], i + 1);
    EXPECT_EQ(tree.Count(), 25);
}

TEST(InetAvlTree, ThreadStoreKeysOnThreadIdAndFreesEntries) {
    TThreadStoreTree store;
    for (uint32_t id : {30u, 10u, 20u, 0xFFFFFFF0u}) {
        auto* e = new TThreadStoreEntry;
        e->OwnerThread = id;
        ASSERT_TRUE(store.Insert(e));
    }
    TThreadStoreEntry key;
    key.OwnerThread = 20;
    bool found;
    auto* e = static_cast<TThreadStoreEntry*>(store.Find(&key, found));
    ASSERT_TRUE(found);
    EXPECT_NE(e, &key);
    EXPECT_EQ(e->OwnerThread, 20u);
    auto* dup = new TThreadStoreEntry;
    dup->OwnerThread = 10;
    EXPECT_FALSE(store.Insert(dup));
    delete dup;
    EXPECT_TRUE(store.Remove(&key));  // frees the stored entry, not the key
    EXPECT_EQ(static_cast<TThreadStoreEntry*>(store.First()->Item)->OwnerThread, 10u);
    EXPECT_EQ(static_cast<TThreadStoreEntry*>(store.Last()->Item)->OwnerThread, 0xFFFFFFF0u);
}
