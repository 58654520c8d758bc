#include "services/error_memory.h"

#include "control/console.h"
#include "link/frame.h"

#include <cstring>

error_record error_table[ERROR_TABLE_SIZE] = {};

// A record frame carries one record with a length byte of exactly 8 (five data bytes), and two
// with any larger one.
constexpr int ONE_RECORD_LENGTH = 8;
constexpr int RECORD_SIZE = 5;
static_assert(sizeof(error_record) == RECORD_SIZE, "a record is the five bytes the ECU sends");

static void send_read_errors() {
    send_frame(TITLE_READ_ERRORS, 0);
    receive_frame();
}

// A frame titled TITLE_ACK ends the ECU's list whatever its length; so does a frame too short
// for a record, or one whose length byte is negative as a signed byte.
static bool is_record_frame() {
    if (frame_buffer[2] == TITLE_ACK) {
        return false;
    }
    return int8_t(frame_buffer[0]) >= ONE_RECORD_LENGTH;
}

// Copies the record at data byte first_data into the slot; records beyond the table are
// dropped, as only its first slots are ever shown.
static void take_record(int slot, int first_data) {
    if (slot < ERROR_TABLE_SIZE) {
        memcpy(&error_table[slot], &frame_buffer[3 + first_data], RECORD_SIZE);
    }
}

void read_error_memory() {
    memset(error_table, 0, sizeof error_table);
    send_read_errors();
    int slot = 0;
    for (int frames = 1; is_record_frame(); frames++) {
        take_record(slot++, 0);
        if (frame_buffer[0] != ONE_RECORD_LENGTH) {
            take_record(slot++, RECORD_SIZE);
        }
        if (send_frame(TITLE_ACK, 0) != 0) {
            print_at_cursor("Error in error memory frame internal ack\n\r");
        }
        if (frames == ERROR_FRAMES_MAX) {
            break;
        }
        send_read_errors();
    }
}

void clear_error_memory() {
    send_frame(TITLE_CLEAR_ERRORS, 0);
    receive_frame();
}
