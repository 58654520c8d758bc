#pragma once
// The state every service test starts from: an open port on the fake line with an ECU on it
// whose wake-up is over, an open console on a blank screen, and the system's globals as at
// start-up.
#include "control/console.h"
#include "control/quelmar.h"
#include "link/frame.h"
#include "link/serial_port.h"
#include "services/error_memory.h"
#include "services/live_data.h"
#include "tests/fakes/fakes.h"
#include "tests/support/fake_ecu.h"
#include "tests/support/program_start.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

class services_test : public ::testing::Test {
  protected:
    fake_ecu ecu;

    void SetUp() override {
        reset_to_program_start();
        port_handle = open_port(LINE_BAUD_RATE, "\\\\.\\com1");
        open_console();
        ecu = fake_ecu{};
        ecu.attach_awake();
    }

    void TearDown() override {
        EXPECT_TRUE(ecu.problems.empty()) << ecu.problems.front();
    }
};

// text followed by spaces up to width.
inline std::string padded(const std::string& text, size_t width) {
    return text.size() < width ? text + std::string(width - text.size(), ' ') : text;
}
