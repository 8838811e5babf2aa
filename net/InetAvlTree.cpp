#include "net/InetAvlTree.h"

#include <algorithm>
#include <vector>

TInetAvlPointerTree::TInetAvlPointerTree(bool AllowDuplicates) : allowDuplicates_(AllowDuplicates) {}

TInetAvlPointerTree::~TInetAvlPointerTree() { Clear(); }

void TInetAvlPointerTree::Fix(TInetAvlNode* N) { N->Height = 1 + std::max(H(N->Left), H(N->Right)); }

void TInetAvlPointerTree::Replace(TInetAvlNode* Old, TInetAvlNode* New) {
    TInetAvlNode* p = Old->Parent;
    if (New) New->Parent = p;
    if (!p)
        root_ = New;
    else if (p->Left == Old)
        p->Left = New;
    else
        p->Right = New;
}

TInetAvlNode* TInetAvlPointerTree::RotateLeft(TInetAvlNode* N) {
    TInetAvlNode* r = N->Right;
    Replace(N, r);
    N->Right = r->Left;
    if (r->Left) r->Left->Parent = N;
    r->Left = N;
    N->Parent = r;
    Fix(N);
    Fix(r);
    return r;
}

TInetAvlNode* TInetAvlPointerTree::RotateRight(TInetAvlNode* N) {
    TInetAvlNode* l = N->Left;
    Replace(N, l);
    N->Left = l->Right;
    if (l->Right) l->Right->Parent = N;
    l->Right = N;
    N->Parent = l;
    Fix(N);
    Fix(l);
    return l;
}

TInetAvlNode* TInetAvlPointerTree::Rebalance(TInetAvlNode* N) {
    const int32_t diff = H(N->Left) - H(N->Right);
    if (diff > 1) {
        if (H(N->Left->Left) < H(N->Left->Right)) RotateLeft(N->Left);  // leans the other way
        return RotateRight(N);
    }
    if (diff < -1) {
        if (H(N->Right->Right) < H(N->Right->Left)) RotateRight(N->Right);
        return RotateLeft(N);
    }
    Fix(N);
    return N;
}

bool TInetAvlPointerTree::Insert(void* Item) {
    TInetAvlNode* parent = nullptr;
    bool left = false;
    for (TInetAvlNode* n = root_; n;) {
        if (!allowDuplicates_ && Equal(n->Item, Item)) return false;
        parent = n;
        left = !Less(n->Item, Item);
        n = left ? n->Left : n->Right;
    }
    auto* node = new TInetAvlNode;
    node->Item = Item;
    node->Parent = parent;
    if (!parent)
        root_ = node;
    else if (left)
        parent->Left = node;
    else
        parent->Right = node;
    ++count_;
    ItemNotify(Item, 0);
    // Back up the path: one rotation at most restores the balance after an insertion.
    for (TInetAvlNode* n = parent; n; n = n->Parent) {
        const int32_t before = n->Height;
        if (H(n->Left) == H(n->Right)) {
            Fix(n);
            break;
        }
        n = Rebalance(n);
        if (n->Height == before) break;
    }
    return true;
}

TInetAvlNode* TInetAvlPointerTree::FindNode(void* Item) const {
    for (TInetAvlNode* n = root_; n;) {
        if (Equal(n->Item, Item)) return n;
        n = Less(n->Item, Item) ? n->Right : n->Left;
    }
    return nullptr;
}

void* TInetAvlPointerTree::Find(void* Item, bool& Found) const {
    TInetAvlNode* n = FindNode(Item);
    Found = n != nullptr;
    return n ? n->Item : nullptr;
}

bool TInetAvlPointerTree::Remove(void* Item) {
    TInetAvlNode* node = FindNode(Item);
    if (!node) return false;
    ItemNotify(node->Item, 1);
    TInetAvlNode* next = nullptr;
    if (Cursor == node) next = CursorForward ? Successor(node) : Predecessor(node);
    TInetAvlNode* gone = node;
    if (node->Left && node->Right) {
        // The leftmost node of the right subtree gives its item and is unlinked instead.
        gone = node->Right;
        while (gone->Left) gone = gone->Left;
        node->Item = gone->Item;
        if (next == gone) next = node;
        if (Cursor == gone) next = node;
    }
    if (Cursor == node || Cursor == gone) Cursor = next;
    TInetAvlNode* child = gone->Left ? gone->Left : gone->Right;
    TInetAvlNode* up = gone->Parent;
    Replace(gone, child);
    delete gone;
    --count_;
    for (TInetAvlNode* n = up; n; n = n->Parent) {
        const int32_t before = n->Height;
        n = Rebalance(n);
        if (n->Height == before) break;
    }
    return true;
}

void TInetAvlPointerTree::Clear() {
    TInetAvlNode* n = root_;
    while (n) {
        if (n->Left) {
            // Rotate the left child up until this node has none.
            TInetAvlNode* l = n->Left;
            n->Left = l->Right;
            l->Right = n;
            n = l;
            continue;
        }
        TInetAvlNode* right = n->Right;
        ItemNotify(n->Item, 1);
        delete n;
        n = right;
    }
    root_ = nullptr;
    count_ = 0;
    Cursor = nullptr;
}

TInetAvlNode* TInetAvlPointerTree::First() const {
    TInetAvlNode* n = root_;
    while (n && n->Left) n = n->Left;
    return n;
}

TInetAvlNode* TInetAvlPointerTree::Last() const {
    TInetAvlNode* n = root_;
    while (n && n->Right) n = n->Right;
    return n;
}

TInetAvlNode* TInetAvlPointerTree::Successor(TInetAvlNode* Node) {
    if (!Node) return nullptr;
    if (Node->Right) {
        Node = Node->Right;
        while (Node->Left) Node = Node->Left;
        return Node;
    }
    TInetAvlNode* p = Node->Parent;
    while (p && Node == p->Right) {
        Node = p;
        p = p->Parent;
    }
    return p;
}

TInetAvlNode* TInetAvlPointerTree::Predecessor(TInetAvlNode* Node) {
    if (!Node) return nullptr;
    if (Node->Left) {
        Node = Node->Left;
        while (Node->Right) Node = Node->Right;
        return Node;
    }
    TInetAvlNode* p = Node->Parent;
    while (p && Node == p->Left) {
        Node = p;
        p = p->Parent;
    }
    return p;
}
