// The send queue: block splitting, reuse of emptied blocks, and its errors.
#include <gtest/gtest.h>

#include <string>

#include "net/InetBuffer.h"

namespace {
std::string Drain(TInetBufferHandler& h, int32_t step) {
    std::string out;
    const uint8_t* p;
    while (int32_t n = h.Peek(p)) {
        const int32_t take = std::min(n, step);
        out.append(reinterpret_cast<const char*>(p), size_t(take));
        h.Remove(take);
    }
    return out;
}
std::string Pattern(size_t n) {
    std::string s(n, '\0');
    for (size_t i = 0; i < n; ++i) s[i] = char('a' + i % 23);
    return s;
}
}  // namespace

TEST(InetBuffer, SplitsIntoBlocksAndDrainsInOrder) {
    TInetBufferHandler h(nullptr);
    const std::string data = Pattern(3000);
    h.Write(data.data(), 3000);
    int blocks = 0;
    int32_t sizes[3] = {};
    for (TInetBuffer* b = h.UsedList.First; b; b = b->NextBlock) sizes[blocks < 3 ? blocks : 2] = b->UnreadCount(), ++blocks;
    ASSERT_EQ(blocks, 3);
    EXPECT_EQ(sizes[0], 1460);
    EXPECT_EQ(sizes[1], 1460);
    EXPECT_EQ(sizes[2], 80);
    const uint8_t* p;
    EXPECT_EQ(h.Peek(p), 1460);
    // Partial removes, and a write while the head is half read, keep the order.
    h.Remove(0);
    EXPECT_EQ(h.Peek(p), 1460);
    std::string out = Drain(h, 1000);
    EXPECT_EQ(out, data);
    EXPECT_TRUE(h.IsEmpty());
    const std::string more = Pattern(5000);
    h.Write(more.data(), 100);
    h.Write(more.data() + 100, 4900);
    EXPECT_EQ(Drain(h, 333), more);
}

TEST(InetBuffer, EmptiedBlocksAreReused) {
    TInetBufferHandler h(nullptr);
    const std::string data = Pattern(1460);
    for (int round = 0; round < 100; ++round) {
        h.Write(data.data(), 1460);
        h.Write(data.data(), 700);
        const uint8_t* p;
        ASSERT_EQ(h.Peek(p), 1460);
        h.Remove(1460);  // exactly the first block: it goes to the free list
        ASSERT_EQ(h.Peek(p), 700);
        h.Remove(700);
        ASSERT_TRUE(h.IsEmpty());
    }
    EXPECT_EQ(h.BlockCount(), 2);
    h.Write(data.data(), 1460);
    h.Write(data.data(), 1460);
    h.RecycleAll();
    EXPECT_TRUE(h.IsEmpty());
    h.Write(data.data(), 1460);
    EXPECT_EQ(h.BlockCount(), 2);
}

TEST(InetBuffer, RemoveErrors) {
    TInetBufferHandler h(nullptr);
    try {
        h.Remove(1);
        FAIL();
    } catch (const framework::Exception& e) {
        EXPECT_STREQ(e.what(), "TInetBufferHandler.Remove: nothing to remove");
    }
    h.Write("abc", 3);
    try {
        h.Remove(-2);
        FAIL();
    } catch (const framework::Exception& e) {
        EXPECT_STREQ(e.what(), "TInetBufferHandler.Remove: Invalid Len -2");
    }
    TInetBuffer b(0);
    EXPECT_EQ(b.BufSize(), 1460);
}
