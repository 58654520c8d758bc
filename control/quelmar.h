#pragma once
// The program: start-up, the polling loop and shutdown.
#include <cstdint>

constexpr int TMP_SIZE = 128;
constexpr int ERROR_READ_INTERVAL = 20;
constexpr uint32_t LINE_BAUD_RATE = 4800;
constexpr uint32_t SETTLE_WAIT_MS = 2000;
// The longest port argument that fits tmp after the name's prefix "\\.\com" and the terminator.
constexpr int PORT_ARGUMENT_MAX = TMP_SIZE - 8;

struct console_position {
    int16_t column;
    int16_t row;
};

// The shared line buffer: the port name at start-up, the ECU's answer bytes during the
// wake-up, then every screen line before it is written. Nothing clears it between users.
extern char tmp[TMP_SIZE];
extern console_position posn;
extern int8_t last_key;
extern int spinner_step;
extern int poll_count;

// The whole run. Returns 0 after the quit key; ends the process with status 1 when the port
// cannot be opened or its argument does not fit.
int quelmar_main(int argc, char** argv);
