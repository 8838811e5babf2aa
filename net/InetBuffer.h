// The send queue of a socket: a chain of fixed-size blocks written out as the network takes
// them. Emptied blocks are kept on a free list for reuse, so a long upload does not allocate
// a block per write. Callers bracket every operation with Lock/Unlock.
#pragma once

#include <cstdint>
#include <memory>

#include "framework/Component.h"
#include "framework/Exception.h"
#include "net/InetUtils.h"

// One block of the queue.
class TInetBuffer {
public:
    // A size of 0 or less gives 1460 bytes (one Ethernet TCP segment).
    explicit TInetBuffer(int32_t Size);
    TInetBuffer(const TInetBuffer&) = delete;
    TInetBuffer& operator=(const TInetBuffer&) = delete;

    // Copies as much of Data + Offset .. + Len as fits after WritePos; the count (0 when full).
    int32_t Write(const void* Data, int32_t Offset, int32_t Len);
    // Unread bytes and where they start (nullptr when none).
    int32_t Peek(const uint8_t*& Ptr) const;
    // Consumes up to Len unread bytes; when all is read both positions go back to 0.
    int32_t Remove(int32_t Len);
    int32_t UnreadCount() const { return WritePos - ReadPos; }
    int32_t BufSize() const { return bufSize_; }

    int32_t WritePos = 0;
    int32_t ReadPos = 0;
    TInetBuffer* NextBlock = nullptr;
    TInetBuffer* PrevBlock = nullptr;

private:
    int32_t bufSize_;
    std::unique_ptr<uint8_t[]> storage_;
};

// A list that owns its blocks.
class TInetBufferLinkedList {
public:
    TInetBufferLinkedList() = default;
    ~TInetBufferLinkedList();
    TInetBufferLinkedList(const TInetBufferLinkedList&) = delete;
    TInetBufferLinkedList& operator=(const TInetBufferLinkedList&) = delete;

    void PushFront(TInetBuffer* Block);
    void PushBack(TInetBuffer* Block);
    TInetBuffer* PopFront();  // nullptr when empty
    TInetBuffer* First = nullptr;
    TInetBuffer* Last = nullptr;
};

class TInetBufferHandler : public framework::TComponent {
public:
    explicit TInetBufferHandler(framework::TComponent* Owner);

    // Size of the blocks made from now on.
    int32_t BufSize = 1460;

    void Lock() { lock_.Enter(); }
    void Unlock() { lock_.Leave(); }
    void Write(const void* Data, int32_t Len);
    // The unread part of the first block (0 when the queue is empty).
    int32_t Peek(const uint8_t*& Ptr) const;
    // Consumes Len bytes of the first block; a block read to its end goes to the free list.
    // Raises framework::Exception for a negative Len or an empty queue.
    void Remove(int32_t Len);
    bool IsEmpty() const;
    // Discards everything queued.
    void RecycleAll();
    // Blocks allocated so far (used and free): a queue that reuses its blocks stops growing.
    int BlockCount() const { return blockCount_; }

    TInetBufferLinkedList UsedList;
    TInetBufferLinkedList FreeList;

private:
    TInetBuffer* NewBlock();
    TInetCriticalSection lock_;
    int blockCount_ = 0;
};
