#include "link/serial_port.h"

serial_line* port_handle = nullptr;
uint32_t bytes_read = 0;
uint32_t bytes_written = 0;

serial_line* open_port(uint32_t baud_rate, const char* port_name) {
    serial_line* port = line_open(port_name);
    if (port == nullptr) {
        return nullptr;
    }
    line_set_format(port, baud_rate);
    line_set_read_timeout(port, READ_TIMEOUT_MS);
    return port;
}

void read_port(serial_line* port, uint8_t* destination, uint32_t count) {
    bytes_read = line_read(port, destination, count);
}

void write_port(serial_line* port, const uint8_t* source, uint32_t count) {
    bytes_written = line_write(port, source, count);
}

void break_on(serial_line* port) {
    line_break_on(port);
}

void break_off(serial_line* port) {
    line_break_off(port);
}

void purge_port(serial_line* port) {
    line_purge(port);
}

void close_port(serial_line* port) {
    line_close(port);
}
