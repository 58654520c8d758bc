// Live data: polls of the two RAM windows, converted and shown, until the line falls silent.
//
// Input: the bytes the line delivers (see fuzz_line.h): for each poll the echoes and answers
// of the two read-RAM requests and the replies with the echoes of the tool's answers.
#include "control/console.h"
#include "fuzz/fuzz_line.h"

// More polls than any input can feed: each one that gets a byte consumes at least one.
constexpr int POLLS_MAX = 256;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::reset_program_state();
    open_console();
    port_handle = open_port(LINE_BAUD_RATE, "\\\\.\\com1");
    fuzz::feed_now(data, size);
    for (int poll = 0; poll < POLLS_MAX && !fake_line.incoming.empty(); poll++) {
        poll_live_data();
        fuzz::check_invariants();
    }
    close_console();
    fuzz::show_if_asked();
    return 0;
}
