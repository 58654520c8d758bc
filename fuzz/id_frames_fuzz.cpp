// The wake-up's answer and the identification frames: five_baud_init, read_ecu_id and
// read_id_frames, as start-up runs them.
//
// Input: the bytes the line delivers after the wake-up's purge (see fuzz_line.h): the ECU's
// six answer bytes, the echo of the complement, then the identification frames with the
// echoes of the tool's answers and acknowledge frames.
#include "control/console.h"
#include "fuzz/fuzz_line.h"
#include "link/wakeup.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::reset_program_state();
    open_console();
    port_handle = open_port(LINE_BAUD_RATE, "\\\\.\\com1");
    fuzz::feed_after_purge(data, size);
    print_at(console_handle, "", 0, 4, COLOUR_BLUE);
    five_baud_init(port_handle);
    read_ecu_id();
    read_id_frames();
    fuzz::check_invariants();
    close_console();
    fuzz::show_if_asked();
    return 0;
}
