// tests/sim/stream_test.cc: the virtual scanner's scan data path through the library's C
// interface: the gate, the counting words across blocks and discards, the FIFO's overflow
// and the scenario's stream faults.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/sim_session.h"

namespace {

class StreamTest : public SimTest {
protected:
    // A generous time-out, so that a loaded machine cannot cut a block short.
    void Start(const std::string& settings, uint32_t timeoutMs = 2000) {
        Open(settings, true);
        SetUsbTimeout(timeoutMs);
    }

    void Gate(uint8_t value) {
        ASSERT_NE(0, RegWrite(4, value));
        ASSERT_NE(0, RegWrite(5, value));
    }

    // The words of one block; fails the test unless status 0 and an even count came.
    std::vector<uint16_t> Words(int32_t requestedBytes) {
        std::vector<uint8_t> bytes(static_cast<size_t>(requestedBytes) + 16, 0xEE);
        int32_t received = -1;
        EXPECT_EQ(0, ReadBlock(bytes.data(), requestedBytes, &received));
        EXPECT_EQ(0, received % 2);
        EXPECT_LE(received, requestedBytes);
        EXPECT_EQ(0xEE, bytes[static_cast<size_t>(requestedBytes)]);   // nothing past the request
        std::vector<uint16_t> words;
        for (int32_t i = 0; i + 1 < received; i += 2) words.push_back(static_cast<uint16_t>(bytes[i] | bytes[i + 1] << 8));
        return words;
    }

    static bool Counting(const std::vector<uint16_t>& words) {
        for (size_t i = 1; i < words.size(); ++i) {
            if (words[i] != static_cast<uint16_t>(words[i - 1] + 1)) return false;
        }
        return true;
    }
};

TEST_F(StreamTest, NothingComesUntilBothGateRegistersHoldOne) {
    Start("stream.rate = unlimited", 20);
    uint8_t buffer[64];
    int32_t received = -1;
    EXPECT_EQ(kErrNoData, ReadBlock(buffer, 64, &received));
    ASSERT_NE(0, RegWrite(4, 1));
    EXPECT_EQ(kErrNoData, ReadBlock(buffer, 64, &received));
    EXPECT_EQ(0, received);
    ASSERT_NE(0, RegWrite(5, 1));
    EXPECT_EQ(0, ReadBlock(buffer, 64, &received));
    EXPECT_EQ(64, received);
}

TEST_F(StreamTest, PacedWordsCountOnAcrossBlocksAndTheWrap) {
    Start("stream.rate = 20000000");
    Gate(1);
    std::vector<uint16_t> all;
    for (int block = 0; block < 6; ++block) {
        const std::vector<uint16_t> words = Words(32768);
        EXPECT_EQ(16384u, words.size());   // a block waits until the request is filled
        all.insert(all.end(), words.begin(), words.end());
    }
    EXPECT_EQ(0, all.front());
    EXPECT_TRUE(Counting(all));
    EXPECT_EQ(Words(1001).size(), 500u);   // an odd request gets whole words only
}

TEST_F(StreamTest, DiscardedDataIsSkippedAndTheCounterRunsOn) {
    Start("stream.rate = 1000000");
    Gate(1);
    const std::vector<uint16_t> before = Words(1000);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ClearReadBlock();
    const std::vector<uint16_t> after = Words(1000);
    ASSERT_EQ(500u, after.size());
    EXPECT_NE(static_cast<uint16_t>(before.back() + 1), after.front());
    EXPECT_TRUE(Counting(after));
}

TEST_F(StreamTest, SlowHostLosesWhatNoLongerFitsTheFifo) {
    Start("stream.rate = 2000000; stream.fifo = 4000");
    Gate(1);
    std::this_thread::sleep_for(std::chrono::milliseconds(30));   // about 60000 bytes made
    const std::vector<uint16_t> held = Words(8000);
    ASSERT_EQ(2000u, held.size());                                // the FIFO's whole content
    EXPECT_EQ(0, held.front());
    EXPECT_TRUE(Counting(held));
    EXPECT_NE(2000, Words(1000).front());
}

TEST_F(StreamTest, ScenarioDropsAndCorruptsAtDeliveredOffsets) {
    Start("stream.rate = unlimited; stream.corrupt = at 100; stream.drop = 3 every 1000");
    Gate(1);
    std::vector<uint16_t> all;
    for (int block = 0; block < 3; ++block) {
        const std::vector<uint16_t> words = Words(1000);
        all.insert(all.end(), words.begin(), words.end());
    }
    ASSERT_EQ(1500u, all.size());
    EXPECT_EQ(99, all[99]);
    EXPECT_EQ(static_cast<uint16_t>(~100u), all[100]);
    EXPECT_EQ(101, all[101]);
    EXPECT_EQ(999, all[999]);
    EXPECT_EQ(1003, all[1000]);   // three words lost at offset 1000
    EXPECT_TRUE(Counting(std::vector<uint16_t>(all.begin() + 1000, all.end())));
}

}  // namespace
