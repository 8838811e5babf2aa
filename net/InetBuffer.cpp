#include "net/InetBuffer.h"

#include <algorithm>
#include <cstring>

TInetBuffer::TInetBuffer(int32_t Size) : bufSize_(Size <= 0 ? 1460 : Size), storage_(new uint8_t[bufSize_]) {}

int32_t TInetBuffer::Write(const void* Data, int32_t Offset, int32_t Len) {
    const int32_t n = std::min(bufSize_ - WritePos, Len);
    if (n <= 0) return 0;
    std::memcpy(storage_.get() + WritePos, static_cast<const uint8_t*>(Data) + Offset, size_t(n));
    WritePos += n;
    return n;
}

int32_t TInetBuffer::Peek(const uint8_t*& Ptr) const {
    const int32_t n = WritePos - ReadPos;
    Ptr = n > 0 ? storage_.get() + ReadPos : nullptr;
    return n;
}

int32_t TInetBuffer::Remove(int32_t Len) {
    const int32_t n = std::max(0, std::min(Len, WritePos - ReadPos));
    ReadPos += n;
    if (ReadPos >= WritePos) ReadPos = WritePos = 0;
    return n;
}

TInetBufferLinkedList::~TInetBufferLinkedList() {
    while (TInetBuffer* b = PopFront()) delete b;
}

void TInetBufferLinkedList::PushFront(TInetBuffer* Block) {
    Block->PrevBlock = nullptr;
    Block->NextBlock = First;
    if (First)
        First->PrevBlock = Block;
    else
        Last = Block;
    First = Block;
}

void TInetBufferLinkedList::PushBack(TInetBuffer* Block) {
    Block->NextBlock = nullptr;
    Block->PrevBlock = Last;
    if (Last)
        Last->NextBlock = Block;
    else
        First = Block;
    Last = Block;
}

TInetBuffer* TInetBufferLinkedList::PopFront() {
    TInetBuffer* b = First;
    if (!b) return nullptr;
    First = b->NextBlock;
    if (First)
        First->PrevBlock = nullptr;
    else
        Last = nullptr;
    b->NextBlock = b->PrevBlock = nullptr;
    return b;
}

TInetBufferHandler::TInetBufferHandler(framework::TComponent* Owner) : framework::TComponent(Owner) {}

TInetBuffer* TInetBufferHandler::NewBlock() {
    TInetBuffer* b = FreeList.PopFront();
    if (!b) {
        b = new TInetBuffer(BufSize);
        ++blockCount_;
    }
    UsedList.PushBack(b);
    return b;
}

void TInetBufferHandler::Write(const void* Data, int32_t Len) {
    if (Len <= 0) return;
    TInetBuffer* b = UsedList.Last ? UsedList.Last : NewBlock();
    int32_t offset = 0;
    for (;;) {
        const int32_t n = b->Write(Data, offset, Len);
        if (n >= Len) break;
        Len -= n;
        offset += n;
        b = NewBlock();
    }
}

int32_t TInetBufferHandler::Peek(const uint8_t*& Ptr) const {
    if (!UsedList.First) {
        Ptr = nullptr;
        return 0;
    }
    return UsedList.First->Peek(Ptr);
}

void TInetBufferHandler::Remove(int32_t Len) {
    if (Len < 0) throw framework::Exception("TInetBufferHandler.Remove: Invalid Len " + std::to_string(Len));
    TInetBuffer* b = UsedList.First;
    if (!b) throw framework::Exception("TInetBufferHandler.Remove: nothing to remove");
    b->Remove(Len);
    if (b->UnreadCount() <= 0) FreeList.PushFront(UsedList.PopFront());
}

bool TInetBufferHandler::IsEmpty() const { return !UsedList.First || UsedList.First->UnreadCount() <= 0; }

void TInetBufferHandler::RecycleAll() {
    while (TInetBuffer* b = UsedList.PopFront()) {
        b->WritePos = b->ReadPos = 0;
        FreeList.PushFront(b);
    }
}
