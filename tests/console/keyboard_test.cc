// tests/console/keyboard_test.cc: the key loops ask the console once per millisecond tick, and
// again at once after a byte is taken, so that draining sees every byte.
#include "console/keyboard.h"

#include <gtest/gtest.h>

#include "tests/support/fake_platform.h"

TEST(KeyboardTest, AsksTheConsoleOncePerTickAndAgainAfterEachByte) {
    ResetFakePlatform();
    gFakePlatform.msPerReading = 0;   // one tick for the whole test
    gFakePlatform.keys = {0xE0, 0x48, 'x'};
    KeyLoopScope loop;
    EXPECT_TRUE(KeyPressed());
    EXPECT_TRUE(KeyPressed());
    EXPECT_EQ(1, gFakePlatform.polls);
    DrainKeyboard();
    EXPECT_TRUE(gFakePlatform.keys.empty());
    gFakePlatform.nowMs += 1;
    EXPECT_FALSE(KeyPressed());
}
