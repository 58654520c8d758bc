#include "link/wakeup.h"

#include "control/console.h"
#include "control/quelmar.h"
#include "link/frame.h"
#include "link/serial_port.h"
#include "platform/clock.h"

#include <cstring>

enum line_change { LINE_KEEP, LINE_IDLE, LINE_LOW };

struct wake_period {
    line_change change; // made at the start of the period
    char digit;         // printed at its end: the level the line held
};

// Two idle periods, then the address 0x10 as a start bit and eight data bits, least
// significant first, each held for one period.
static const wake_period WAKE_PERIODS[] = {
    {LINE_IDLE, '1'}, // idle
    {LINE_KEEP, '1'}, // idle
    {LINE_LOW, '0'},  // start bit
    {LINE_KEEP, '0'}, // bit 0
    {LINE_KEEP, '0'}, // bit 1
    {LINE_KEEP, '0'}, // bit 2
    {LINE_KEEP, '0'}, // bit 3
    {LINE_IDLE, '1'}, // bit 4
    {LINE_LOW, '0'},  // bit 5
    {LINE_KEEP, '0'}, // bit 6
    {LINE_KEEP, '0'}, // bit 7
};

static void change_line(serial_line* port, line_change change) {
    if (change == LINE_IDLE) {
        break_off(port);
    } else if (change == LINE_LOW) {
        break_on(port);
    }
}

void five_baud_init(serial_line* port) {
    print_at_cursor("Initialising comms: ");
    // Every period ends on a grid counted from the first line change, and the next change is
    // made before the digit is printed, so printing never stretches a bit: the ECU's receiver
    // allows only a few per cent.
    const int periods = int(sizeof WAKE_PERIODS / sizeof WAKE_PERIODS[0]);
    int64_t grid_start_us = clock_now_us();
    change_line(port, WAKE_PERIODS[0].change);
    for (int period = 0; period < periods; period++) {
        sleep_until_us(grid_start_us + int64_t(period + 1) * WAKE_BIT_MS * 1000);
        // After the last bit the line goes back to idle for the stop level, with no wait.
        change_line(port, period + 1 < periods ? WAKE_PERIODS[period + 1].change : LINE_IDLE);
        char digit[2] = {WAKE_PERIODS[period].digit, '\0'};
        print_at_cursor("%s", digit);
    }
    purge_port(port);
}

void read_ecu_id() {
    print_at(console_handle, "                                ", 0, 4, COLOUR_BLUE);
    // Places the ECU does not fill show 00, not what the buffer held before.
    memset(tmp, 0, ECU_ID_LENGTH);
    uint8_t* answer = reinterpret_cast<uint8_t*>(tmp);
    read_port(port_handle, answer, ECU_ID_LENGTH);
    print_at(console_handle, "ECU ID: ", 0, 21, COLOUR_GREEN);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat"
    print_at_cursor("%0.2X-%0.2X-%0.2X-%0.2X-%0.2X-%0.2X", answer[0], answer[1], answer[2],
                    answer[3], answer[4], answer[5]);
#pragma GCC diagnostic pop
    answer[2] ^= 0xFF;
    write_port(port_handle, &answer[2], 1);
    read_port(port_handle, &answer[0], 1); // the echo
}

void read_id_frames() {
    uint8_t total = 0;
    int frames = 0;
    while (total < ID_DATA_WANTED && frames < ID_FRAMES_MAX) {
        receive_frame();
        total = uint8_t(total + frame_buffer[0] - 3);
        send_frame(TITLE_ACK, 0);
        print_at_cursor("*");
        frames++;
    }
    receive_frame();
}
