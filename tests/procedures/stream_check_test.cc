// The counting-pattern check and the request lengths of the scan streaming test, without a
// device: chunking at the 65535 -> 0 wrap, error counting, the first error's position.
#include "device/stream_check.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

// `words` counting words from `first` on, little-endian.
std::vector<uint8_t> Counting(uint16_t first, size_t words) {
    std::vector<uint8_t> bytes;
    for (size_t i = 0; i < words; ++i) {
        const uint16_t word = static_cast<uint16_t>(first + i);
        bytes.push_back(static_cast<uint8_t>(word));
        bytes.push_back(static_cast<uint8_t>(word >> 8));
    }
    return bytes;
}

void SetWord(std::vector<uint8_t>& bytes, size_t byteOffset, uint16_t word) {
    bytes[byteOffset] = static_cast<uint8_t>(word);
    bytes[byteOffset + 1] = static_cast<uint8_t>(word >> 8);
}

class PatternCheckTest : public ::testing::Test {
protected:
    // Blocks are checked as the test sees them, one after the other from stream offset 0.
    void Check(const std::vector<uint8_t>& block) {
        check.CheckBlock(block.data(), static_cast<uint32_t>(block.size()), offset);
        offset += block.size();
    }
    PatternCheck check;
    uint64_t offset = 0;
    uint64_t position = 0;
    uint16_t value = 0;
};

TEST_F(PatternCheckTest, CleanStreamAcrossTheWrapCountsNothing) {
    Check(Counting(65000, 400));
    Check(Counting(65400, 16384));   // crosses 65535 -> 0: two chunks
    Check(Counting(16248, 1000));
    EXPECT_EQ(0u, check.ErrorCount());
    EXPECT_FALSE(check.TakeFirstError(&position, &value));
}

TEST_F(PatternCheckTest, WordsLostBetweenBlocksCountOnceAndCheckingFollows) {
    Check(Counting(0, 500));
    Check(Counting(510, 500));
    Check(Counting(1010, 500));
    EXPECT_EQ(1u, check.ErrorCount());
    ASSERT_TRUE(check.TakeFirstError(&position, &value));
    EXPECT_EQ(1000u, position);
    EXPECT_EQ(510, value);
}

TEST_F(PatternCheckTest, WrongWordCountsOnceInsideAChunkTwiceAtItsEnd) {
    struct Case { size_t wordIndex; uint32_t errors; };
    // Block of words 65000..65999: index 535 holds 65535, the last word of the first chunk.
    for (const Case& c : {Case{10, 1}, Case{535, 2}, Case{999, 2}, Case{0, 1}}) {
        PatternCheck fresh;
        check = fresh;
        offset = 0;
        Check(Counting(64000, 1000));
        std::vector<uint8_t> block = Counting(65000, 1000);
        SetWord(block, 2 * c.wordIndex, 7);
        Check(block);
        Check(Counting(static_cast<uint16_t>(66000), 100));
        EXPECT_EQ(c.errors, check.ErrorCount()) << "wrong word at " << c.wordIndex;
    }
}

TEST_F(PatternCheckTest, FirstErrorPositionCountsFromTheFirstByteOfTheTest) {
    Check(Counting(0, 500));
    Check(Counting(500, 500));
    std::vector<uint8_t> third = Counting(1000, 500);
    SetWord(third, 10, 0xBEEF);
    Check(third);
    ASSERT_TRUE(check.TakeFirstError(&position, &value));
    EXPECT_EQ(0x7DAu, position);
    EXPECT_EQ(0xBEEF, value);
}

TEST_F(PatternCheckTest, OnlyTheFirstMismatchOfAnIntervalIsKept) {
    std::vector<uint8_t> block = Counting(100, 1000);
    SetWord(block, 20, 1);
    Check(block);
    block = Counting(1100, 1000);
    SetWord(block, 40, 2);
    Check(block);
    ASSERT_TRUE(check.TakeFirstError(&position, &value));
    EXPECT_EQ(20u, position);
    EXPECT_FALSE(check.TakeFirstError(&position, &value));
    // After the report the next mismatch is recorded afresh.
    block = Counting(2100, 1000);
    SetWord(block, 60, 3);
    Check(block);
    ASSERT_TRUE(check.TakeFirstError(&position, &value));
    EXPECT_EQ(4060u, position);
    EXPECT_EQ(3u, check.ErrorCount());
}

TEST_F(PatternCheckTest, OddLastByteIsComparedButRecordsNoPosition) {
    std::vector<uint8_t> block = Counting(300, 100);
    block.push_back(0x55);   // the low byte of word 400 would be 0x90
    Check(block);
    EXPECT_EQ(1u, check.ErrorCount());
    EXPECT_FALSE(check.TakeFirstError(&position, &value));

    std::vector<uint8_t> clean = Counting(400, 100);
    clean.pop_back();        // odd and right: no error, and the next word is still 499
    Check(clean);
    Check(Counting(499, 10));
    EXPECT_EQ(1u, check.ErrorCount());
}

TEST_F(PatternCheckTest, LoneByteNeitherSyncsNorReadsPastIt) {
    const std::vector<uint8_t> lone{0x12};
    Check(lone);
    Check(Counting(5000, 10));   // takes its own first word
    Check(lone);                 // low byte of 5010 is 0x92
    EXPECT_EQ(1u, check.ErrorCount());
}

TEST(RequestLengthTest, GeneratorMatchesTheRuntimeSequence) {
    RequestRandom random;
    random.state = 1;
    for (uint32_t expected : {41u, 18467u, 6334u, 26500u, 19169u}) EXPECT_EQ(expected, random.Next());
}

TEST(RequestLengthTest, LengthsAreEvenFrom1000ToTheWholeBuffer) {
    const std::pair<uint32_t, int32_t> cases[] = {
        {0, 1000}, {1, 1000}, {999, 1998}, {1000, 1000}, {1001, 1000}, {1998, 1998}, {2001, 2000},
        {32765, 32764}, {32766, 32766}, {32767, 32768}};
    for (const auto& [draw, length] : cases) EXPECT_EQ(length, RequestLengthFor(draw)) << draw;
}

}  // namespace
