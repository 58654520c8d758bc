#pragma once
// Puts the fakes and the system's globals back as they are when the program starts: virtual
// time 0, a silent line with nothing queued, a blank screen, no keys, and zeroed buffers.
#include "control/quelmar.h"
#include "link/frame.h"
#include "services/error_memory.h"
#include "services/live_data.h"
#include "tests/fakes/fakes.h"

#include <cstring>

inline void reset_to_program_start() {
    fake_clock_reset();
    fake_line_reset();
    fake_screen_reset();
    fake_keys_reset();
    memset(frame_buffer, 0, sizeof frame_buffer);
    frame_counter = 0;
    memset(live_data_a, 0, sizeof live_data_a);
    memset(live_data_b, 0, sizeof live_data_b);
    memset(error_table, 0, sizeof error_table);
    memset(tmp, 0, sizeof tmp);
}
