// A whole run of the program: start-up, wake-up, identification and polls, until "q".
//
// Input: byte 0 picks the pass of the loop at which "q" arrives (1 to 256), byte 1 a pass before
// it at which "d" arrives (0: never; the loop quits only when "q" is the last key read), and
// the rest is what the line delivers after the wake-up's
// purge (see fuzz_line.h). A run is bounded by the quit pass; time-outs pass in virtual time.
#include "fuzz/fuzz_line.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) {
        return -1; // not kept in the corpus
    }
    fuzz::reset_program_state();
    int quit_pass = 1 + data[0];
    int clear_pass = data[1] % quit_pass;
    fake_keys_at_pass(quit_pass, {'q'});
    if (clear_pass != 0) {
        fake_keys_at_pass(clear_pass, {'d'});
    }
    fuzz::feed_after_purge(data + 2, size - 2);
    static char program[] = "quelmar";
    char* argv[] = {program, nullptr};
    if (quelmar_main(1, argv) != 0) {
        abort();
    }
    fuzz::check_invariants();
    fuzz::show_if_asked();
    return 0;
}
