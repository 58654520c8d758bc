#pragma once
// What every fuzz target shares: a fresh run's state over the test fakes, and the line fed from
// the fuzzer's input.
//
// The input is the bytes the line delivers to the tool, read after read, echoes included: the
// fake line does not echo, so the input decides whether each write comes back, and as what.
// When the input runs out the line is silent and every read times out, in virtual time, so a
// time-out costs nothing. The purge that ends the wake-up drops whatever the line held, so a
// target that wakes the ECU hands the input to the line at the purge.
#include "control/quelmar.h"
#include "link/frame.h"
#include "link/serial_port.h"
#include "platform/clock.h"
#include "platform/text_model.h"
#include "services/error_memory.h"
#include "services/live_data.h"
#include "tests/fakes/fakes.h"
#include "tests/support/program_start.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace fuzz {

inline const uint8_t* pending_data = nullptr;
inline size_t pending_size = 0;

inline void queue_pending() {
    for (size_t i = 0; i < pending_size; i++) {
        fake_line.incoming.push_back(pending_data[i]);
    }
    pending_size = 0;
}

// Every global the program keeps, as at program start, and a line that does not echo.
inline void reset_program_state() {
    reset_to_program_start();
    fake_line.echo = false;
    port_handle = nullptr;
}

// The line delivers data, from now on.
inline void feed_now(const uint8_t* data, size_t size) {
    pending_data = data;
    pending_size = size;
    queue_pending();
}

// The line delivers data once the tool has purged it at the end of the wake-up.
inline void feed_after_purge(const uint8_t* data, size_t size) {
    pending_data = data;
    pending_size = size;
    fake_line.on_purge = [] { queue_pending(); };
}

// What must hold after any byte stream; a breach is a crash the fuzzer reports.
inline void check_invariants() {
    // Every received counter byte is read as signed, plus 1.
    if (frame_counter < -127 || frame_counter > 128) {
        abort();
    }
    if (fake_screen.row < 0 || fake_screen.row >= SCREEN_ROWS || fake_screen.column < 0 ||
        fake_screen.column >= SCREEN_COLUMNS) {
        abort();
    }
}

// With FUZZ_SHOW set, replaying one input prints the screen it left and how much of the input
// the tool did not read: to check a seed, or to see what a crashing input does.
inline void show_if_asked() {
    if (getenv("FUZZ_SHOW") == nullptr) {
        return;
    }
    for (int row = 0; row < SCREEN_ROWS; row++) {
        fprintf(stderr, "%2d|%s|\n", row, fake_screen_row(row).c_str());
    }
    fprintf(stderr, "unread: %zu bytes; written: %zu bytes; virtual time %lld ms\n",
            fake_line.incoming.size() + pending_size, fake_line.written.size(),
            (long long)(clock_now_us() / 1000));
}

} // namespace fuzz
