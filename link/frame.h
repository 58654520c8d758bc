#pragma once
// The frame link layer: every request and reply after the wake-up travels as a frame
//
//   length L, counter, title, L-3 data bytes, end byte 0x03
//
// in which the receiver answers every byte but the end byte with its one's complement, and
// the sender waits for that answer before its next byte. The line echoes every byte written,
// so every write is followed by a read of its echo, which is discarded.
#include <cstdint>

constexpr uint8_t TITLE_READ_RAM = 0x01;
constexpr uint8_t TITLE_CLEAR_ERRORS = 0x05;
constexpr uint8_t TITLE_READ_ERRORS = 0x07;
constexpr uint8_t TITLE_ACK = 0x09;
constexpr uint8_t FRAME_END = 0x03;

constexpr int HANDSHAKE_NONE = 0;
constexpr int HANDSHAKE_COMPLEMENT = 1;

constexpr int FRAME_BUFFER_SIZE = 16;
// Data bytes a sent frame can carry: indexes 3 to 15.
constexpr int FRAME_DATA_MAX = FRAME_BUFFER_SIZE - 3;

extern uint8_t frame_buffer[FRAME_BUFFER_SIZE];
extern int32_t frame_counter;

// 0 sent (and answered with the complement); 1 no answer; 2 a wrong answer.
int send_byte(uint8_t out_byte, int mode);
// 0 a byte came (and was answered); 1 none came: destination is left as it was.
int receive_byte(uint8_t* destination, int mode);
// Sends frame_buffer's data bytes (from index 3) under title. The whole frame always goes out;
// the result is that of the first byte not answered right, or 0. More data than the buffer
// holds is cut to FRAME_DATA_MAX bytes, and the length byte says so.
int send_frame(uint8_t title, uint8_t data_length);
// Receives the next frame into frame_buffer, cleared first. 0 whole; 1 all but the end byte;
// -1 the length byte or a body byte did not come. A frame longer than the buffer is still
// taken off the line, answered byte by byte, and its bytes past index 15 are dropped.
int receive_frame();
