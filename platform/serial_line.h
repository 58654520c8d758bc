#pragma once
// The serial line to the K-line adapter, one implementation per OS.
//
// What the rest of the program may assume:
// - line_open opens a device for reading and writing, unshared: a device that another program
//   (or another run of this one) holds cannot be opened. It returns nullptr on failure.
// - After line_set_read_timeout(line, ms), line_read returns when all requested bytes have come,
//   or when ms have passed since the read began, with whatever came. It reports the count.
// - line_write hands the bytes to the driver and reports the count; it does not wait for an echo.
// - A line that has gone away under the program (adapter pulled, peer closed) reads and writes
//   nothing. Its reads then take LOST_LINE_READ_MS each instead of returning at once, so that
//   a loop of exchanges cannot spin, yet a poll ends soon enough for a key to be seen.
// - Nothing here prints or retries.
#include <cstdint>

struct serial_line;

constexpr uint32_t LOST_LINE_READ_MS = 50;

serial_line* line_open(const char* device_name);
// 8 data bits, no parity, one stop bit, binary, no flow control of any kind, DTR and RTS off.
void line_set_format(serial_line* line, uint32_t baud_rate);
void line_set_read_timeout(serial_line* line, uint32_t total_ms);
uint32_t line_read(serial_line* line, uint8_t* destination, uint32_t count);
uint32_t line_write(serial_line* line, const uint8_t* source, uint32_t count);
void line_break_on(serial_line* line);
void line_break_off(serial_line* line);
// Ends pending transfers and drops every byte waiting in both directions.
void line_purge(serial_line* line);
void line_close(serial_line* line);
