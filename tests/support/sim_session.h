// tests/support/sim_session.h: the virtual scanner in process, for its own tests. Each test
// configures the scanner afresh and opens the interface as a run of the tool does; the
// scanner is closed and put back to its defaults afterwards.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "device/kelvoscanusb.h"
#include "sim/errors.h"

extern "C" void SimConfigure(const char* settings);

using namespace sim;   // the error codes

class SimTest : public ::testing::Test {
protected:
    void TearDown() override {
        Free_Interface();
        SimConfigure("");
    }

    void Open(const std::string& settings, bool loadFpga = false) {
        SimConfigure(settings.c_str());
        ASSERT_EQ(0, Init_Interface());
        if (loadFpga) {
            ASSERT_EQ(0, Init_Firmware("scanner3.mcs", 1));
        }
    }
};
