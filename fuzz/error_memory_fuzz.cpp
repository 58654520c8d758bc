// The error memory: collections with read_error_memory, each shown at once with
// show_error_messages, and the clear request, until the line falls silent.
//
// Input: byte 0 says after which collections a clear request follows (bit n: after the n-th,
// counted modulo 8); the rest is what the line delivers (see fuzz_line.h): the echoes and
// answers of the tool's frames and the ECU's record frames with the echoes of the tool's
// answers.
#include "control/console.h"
#include "fuzz/fuzz_line.h"
#include "services/error_messages.h"

// More collections than any input can feed: each one that gets a byte consumes at least one.
constexpr int COLLECTIONS_MAX = 256;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) {
        return -1;
    }
    fuzz::reset_program_state();
    open_console();
    port_handle = open_port(LINE_BAUD_RATE, "\\\\.\\com1");
    fuzz::feed_now(data + 1, size - 1);
    for (int collection = 0; collection < COLLECTIONS_MAX && !fake_line.incoming.empty();
         collection++) {
        read_error_memory();
        show_error_messages();
        fuzz::check_invariants();
        if (data[0] & (1u << (collection % 8))) {
            clear_error_memory();
        }
    }
    close_console();
    fuzz::show_if_asked();
    return 0;
}
