#include "link/frame.h"

#include "link/serial_port.h"

#include <cstring>

uint8_t frame_buffer[FRAME_BUFFER_SIZE] = {};
int32_t frame_counter = 0;

// Where the bytes of an oversize frame go that frame_buffer cannot hold.
static uint8_t dropped_byte;

static uint8_t* frame_place(int index) {
    return index < FRAME_BUFFER_SIZE ? &frame_buffer[index] : &dropped_byte;
}

int send_byte(uint8_t out_byte, int mode) {
    uint8_t rx = 0;
    write_port(port_handle, &out_byte, 1);
    read_port(port_handle, &rx, 1); // the echo
    if (mode == HANDSHAKE_NONE) {
        return 0;
    }
    read_port(port_handle, &rx, 1);
    if (bytes_read == 0) {
        return 1;
    }
    return rx == uint8_t(out_byte ^ 0xFF) ? 0 : 2;
}

int receive_byte(uint8_t* destination, int mode) {
    read_port(port_handle, destination, 1);
    if (bytes_read == 0) {
        return 1;
    }
    if (mode == HANDSHAKE_COMPLEMENT) {
        uint8_t rx = *destination ^ 0xFF;
        write_port(port_handle, &rx, 1);
        read_port(port_handle, &rx, 1); // the echo of the answer
    }
    return 0;
}

int send_frame(uint8_t title, uint8_t data_length) {
    if (data_length > FRAME_DATA_MAX) {
        data_length = FRAME_DATA_MAX;
    }
    frame_buffer[0] = uint8_t(data_length + 3);
    frame_buffer[1] = uint8_t(frame_counter);
    frame_buffer[2] = title;
    int result = 0;
    for (int index = 0; index <= data_length + 2; index++) {
        int byte_result = send_byte(frame_buffer[index], HANDSHAKE_COMPLEMENT);
        if (result == 0) {
            result = byte_result;
        }
    }
    send_byte(FRAME_END, HANDSHAKE_NONE);
    return result;
}

int receive_frame() {
    memset(frame_buffer, 0, sizeof frame_buffer);
    if (receive_byte(&frame_buffer[0], HANDSHAKE_COMPLEMENT) != 0) {
        return -1;
    }
    int length = int8_t(frame_buffer[0]);
    int body = 0;
    for (; body < length - 1; body++) {
        if (receive_byte(frame_place(1 + body), HANDSHAKE_COMPLEMENT) != 0) {
            return -1;
        }
    }
    int end_result = receive_byte(frame_place(1 + body), HANDSHAKE_NONE);
    frame_counter = int8_t(frame_buffer[1]) + 1;
    return end_result == 0 ? 0 : 1;
}
