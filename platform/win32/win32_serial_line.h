#pragma once
// The Win32 serial line's records, for its own tests: the handle behind a serial_line, and the
// line settings and time-outs as last read from the driver and changed.
#include <cstdint>
#include <windows.h>

struct serial_line {
    HANDLE handle;
    uint32_t read_timeout_ms;
    bool lost; // a transfer failed: the device has gone (adapter pulled) or never worked
};

extern DCB port_settings;
extern COMMTIMEOUTS port_timeouts;
