// Frames from the ECU, as the polling loop takes them: the tool sends a request, receives the
// reply, and so on, until the line has nothing more to say.
//
// Input: the bytes the line delivers (see fuzz_line.h), echoes of the tool's writes included.
#include "fuzz/fuzz_line.h"

// More exchanges than any input can feed: each one that gets a byte consumes at least one.
constexpr int EXCHANGES_MAX = 256;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::reset_program_state();
    port_handle = open_port(LINE_BAUD_RATE, "\\\\.\\com1");
    fuzz::feed_now(data, size);
    for (int exchange = 0; exchange < EXCHANGES_MAX && !fake_line.incoming.empty(); exchange++) {
        frame_buffer[3] = 0x0A;
        frame_buffer[4] = 0x20;
        frame_buffer[5] = 0x00;
        send_frame(TITLE_READ_RAM, 3);
        int result = receive_frame();
        if (result != 0 && result != 1 && result != -1) {
            abort();
        }
        fuzz::check_invariants();
    }
    fuzz::show_if_asked();
    return 0;
}
