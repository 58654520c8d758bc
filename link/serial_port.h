#pragma once
// The serial port to the K-line adapter: opened once, used by one thread, closed once.
#include "platform/serial_line.h"

#include <cstdint>

// Every read waits for its bytes at most this long in total.
constexpr uint32_t READ_TIMEOUT_MS = 2000;

extern serial_line* port_handle;
extern uint32_t bytes_read;    // count of the last read
extern uint32_t bytes_written; // count of the last write

// The open, configured port, or nullptr when the device cannot be opened. Settings the driver
// refuses are not detected: the port is returned and used with what the driver kept.
serial_line* open_port(uint32_t baud_rate, const char* port_name);

void read_port(serial_line* port, uint8_t* destination, uint32_t count);
void write_port(serial_line* port, const uint8_t* source, uint32_t count);
void break_on(serial_line* port);
void break_off(serial_line* port);
void purge_port(serial_line* port);
void close_port(serial_line* port);
