#pragma once
// A fresh run's state over the fakes: an open port on the fake line, counters and buffers as at
// program start, an empty screen and virtual time 0.
#include "link/frame.h"
#include "link/serial_port.h"
#include "platform/clock.h"
#include "tests/fakes/fakes.h"
#include "tests/support/fake_ecu.h"
#include "tests/support/program_start.h"

#include <cstring>
#include <gtest/gtest.h>

class link_fixture : public ::testing::Test {
  protected:
    void SetUp() override {
        reset_to_program_start();
        port_handle = open_port(4800, "\\\\.\\com1");
        fake_line.events.clear();
    }

    // The ECU sends these bytes one by one, each after the tool's complement of the one before;
    // the list may stop anywhere, as a reply that breaks off does.
    void ecu_sends(const bytes& frame) {
        served = frame;
        served_next = 0;
        serve_next();
        fake_line.on_write = [this](uint8_t byte) {
            if (served_next > 0 && served_next < served.size() &&
                byte == uint8_t(served[served_next - 1] ^ 0xFF)) {
                serve_next();
            }
        };
    }

    // What the tool wrote, in order.
    bytes written() const {
        return fake_line.written;
    }

  private:
    bytes served;
    size_t served_next = 0;
    void serve_next() {
        fake_line_queue_byte(served[served_next++]);
    }
};

inline bytes complements_of(const bytes& sent) {
    bytes out;
    for (uint8_t b : sent) {
        out.push_back(b ^ 0xFF);
    }
    return out;
}
