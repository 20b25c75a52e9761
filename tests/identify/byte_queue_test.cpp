#include "identify/byte_queue.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

namespace {

std::string Peek(const CByteQueue& q, size_t n) {
    std::string out(n, '\0');
    out.resize(q.Peek(out.data(), n));
    return out;
}

TEST(ByteQueue, KeepsOrderThroughGrowthAndPartialTakes) {
    CByteQueue q(8);
    q.Enqueue("abcde", 5);
    EXPECT_EQ(q.Capacity(), 8u);
    q.Enqueue("fgh", 3);  // reaching the capacity grows to twice the held length
    EXPECT_EQ(q.Capacity(), 16u);
    EXPECT_EQ(Peek(q, 3), "abc");
    EXPECT_EQ(q.Length(), 8u);

    char two[2];
    EXPECT_EQ(q.Take(two, 2), 2u);
    EXPECT_EQ(std::string(two, 2), "ab");
    EXPECT_EQ(q.Take(nullptr, 0), 0u);
    EXPECT_EQ(q.Take(nullptr, 1), 1u);  // dropped without a destination
    q.Enqueue("ij", 2);
    EXPECT_EQ(Peek(q, 100), "defghij");  // asking for more gives what is held
    EXPECT_EQ(q.Take(nullptr, 100), 7u);
    EXPECT_EQ(q.Length(), 0u);
}

// A producer and a consumer on two threads see every byte once, in order.
TEST(ByteQueue, HandsBytesBetweenThreadsInOrder) {
    CByteQueue q(16);
    constexpr int kCount = 20000;
    std::thread producer([&q] {
        for (int i = 0; i < kCount; ++i) {
            uint8_t b = static_cast<uint8_t>(i);
            q.Enqueue(&b, 1);
        }
    });
    std::vector<uint8_t> seen;
    while (seen.size() < kCount) {
        uint8_t piece[64];
        size_t n = q.Take(piece, sizeof piece);
        seen.insert(seen.end(), piece, piece + n);
    }
    producer.join();
    for (int i = 0; i < kCount; ++i) ASSERT_EQ(seen[i], static_cast<uint8_t>(i)) << i;
}

}  // namespace
