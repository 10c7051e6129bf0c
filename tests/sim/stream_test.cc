// tests/sim/stream_test.cc: the virtual scanner's scan data path through the library's C
// interface: the gate, the counting words across blocks and discards, the FIFO's overflow
// and the scenario's stream faults.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/sim_session.h"
#include "tests/support/virtual_clock.h"

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

// With no data a block waits out the USB time-out, on the scanner's clock, and no longer.
TEST_F(StreamTest, BlockWithNoDataWaitsForTheUsbTimeout) {
    const VirtualClock clock;
    Start("stream.rate = 1000000", 700);
    uint8_t buffer[64];
    int32_t received = -1;
    const uint64_t before = VirtualClock::Ms();
    EXPECT_EQ(kErrNoData, ReadBlock(buffer, 64, &received));
    EXPECT_EQ(700u, VirtualClock::Ms() - before);
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

// Without a size of its own the FIFO holds about a tenth of a second at the set rate: at USB 3
// speed 30 ms of production (12 MB) fit, where the 4 MiB that suit USB 2 would overflow.
TEST_F(StreamTest, DefaultFifoGrowsWithTheRate) {
    Start("stream.rate = usb3");
    Gate(1);
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    ScannerStatus status{};
    ASSERT_EQ(0, GetScanStatus(&status));
    EXPECT_GT(status.RamFIFO, 8 << 20);
    EXPECT_EQ(0, status.RAMStatus & 0x04);   // nothing lost
}

// The loss is news: the read after it brings the data it has with status 0 and records -801;
// the status record shows it until the FIFO is cleared.
TEST_F(StreamTest, OverflowIsRecordedAsTheLastErrorAndShownInTheStatus) {
    Start("stream.rate = 2000000; stream.fifo = 4000");
    ScannerStatus status{};
    ASSERT_EQ(0, GetScanStatus(&status));
    EXPECT_EQ(0, status.RAMStatus & 0x04);
    Gate(1);
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    Gate(0);                                             // no more words, no more losses
    ASSERT_EQ(0, GetScanStatus(&status));
    EXPECT_EQ(0x04, status.RAMStatus & 0x04);
    ASSERT_EQ(500u, Words(1000).size());
    EXPECT_EQ(kErrFifoOverflow, GetLastKelvoError(0));   // read and cleared
    ASSERT_EQ(500u, Words(1000).size());
    EXPECT_EQ(0, GetLastKelvoError(1));                  // reported once
    ASSERT_EQ(0, GetScanStatus(&status));
    EXPECT_EQ(0x04, status.RAMStatus & 0x04);
    ClearReadBlock();
    ASSERT_EQ(0, GetScanStatus(&status));
    EXPECT_EQ(0, status.RAMStatus & 0x04);
}

// A host that asks often but takes one word a millisecond from a stream of a hundred: each
// look adds a little, and the FIFO fills up all the same. The status shows the loss while the
// gate is still open, and the next read brings data with status 0 and -801 as the last error.
TEST_F(StreamTest, HostThatPollsOftenButReadsTooLittleFillsTheFifo) {
    Start("stream.rate = 200000; stream.fifo = 4000");
    Gate(1);
    ScannerStatus status{};
    bool lost = false;
    for (int poll = 0; poll < 3000 && !lost; ++poll) {
        ASSERT_EQ(0, GetScanStatus(&status));
        lost = (status.RAMStatus & 0x04) != 0;
        if (!lost) {
            ASSERT_EQ(1u, Words(2).size());
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
    ASSERT_TRUE(lost);
    ASSERT_EQ(1u, Words(2).size());
    EXPECT_EQ(kErrFifoOverflow, GetLastKelvoError(0));
}

// A request larger than the FIFO must not sleep until the FIFO has long overflowed: the read
// comes back while the FIFO still has room, and a 32 KiB request at 1000 bytes/s does not wait
// out the time-out for its first word.
TEST_F(StreamTest, ReadsLargerThanTheFifoComeBackBeforeItOverflows) {
    Start("stream.rate = 100000; stream.fifo = 16384", 60000);
    Gate(1);
    std::vector<uint16_t> all;
    for (int block = 0; block < 12; ++block) {
        const std::vector<uint16_t> words = Words(32768);
        all.insert(all.end(), words.begin(), words.end());
    }
    EXPECT_TRUE(Counting(all));
    EXPECT_NE(kErrFifoOverflow, GetLastKelvoError(1));
    Free_Interface();

    Start("stream.rate = 1000; stream.fifo = 2", 60000);
    Gate(1);
    const auto begun = std::chrono::steady_clock::now();
    EXPECT_EQ(1u, Words(32768).size());
    EXPECT_EQ(1u, Words(32768).size());
    EXPECT_LT(std::chrono::steady_clock::now() - begun, std::chrono::seconds(30));
}

// Dropping words costs no time per word: a drop of 10^14 words with words made on demand
// is one jump of the counter, and every read returns within the time-out.
TEST_F(StreamTest, HugeDropsReturnAtOnceOrWithinTheTimeOut) {
    Start("stream.rate = unlimited; stream.drop = 99999999999999 at 0");
    Gate(1);
    const std::vector<uint16_t> words = Words(1000);
    ASSERT_EQ(500u, words.size());
    EXPECT_EQ(static_cast<uint16_t>(99999999999999u % 65536u), words.front());
    EXPECT_TRUE(Counting(words));
    Free_Interface();

    Start("stream.rate = 1000000; stream.drop = 99999999999999 at 0", 50);
    Gate(1);
    uint8_t buffer[1000];
    int32_t received = -1;
    EXPECT_EQ(kErrNoData, ReadBlock(buffer, 1000, &received));   // everything made is dropped
    EXPECT_EQ(0, received);
}

TEST_F(StreamTest, OverlappingCorruptionWindowsInvertEachWordOnce) {
    Start("stream.rate = unlimited; stream.corrupt = 5 every 2");
    Gate(1);
    const std::vector<uint16_t> words = Words(40);
    ASSERT_EQ(20u, words.size());
    EXPECT_EQ(0, words[0]);
    EXPECT_EQ(1, words[1]);
    for (uint16_t i = 2; i < 20; ++i) EXPECT_EQ(static_cast<uint16_t>(~i), words[i]) << i;
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
