// The serial line on the Win32 communications API. The driver does the timing: with the total
// read time-out set, ReadFile returns when all requested bytes have come or when the time-out
// has passed since it began, with what came.
#include "platform/serial_line.h"

#include "platform/clock.h"
#include "platform/win32/win32_serial_line.h"

#include <windows.h>

DCB port_settings;
COMMTIMEOUTS port_timeouts;

static_assert((PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR) == 15,
              "the purge flags");

serial_line* line_open(const char* device_name) {
    HANDLE handle = CreateFileA(device_name, GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        return nullptr;
    }
    return new serial_line{handle, 0, false};
}

void line_set_format(serial_line* line, uint32_t baud_rate) {
    port_settings.DCBlength = sizeof port_settings;
    if (!GetCommState(line->handle, &port_settings)) {
        return; // nothing known to change: writing back a half-filled record could only harm
    }
    port_settings.BaudRate = baud_rate;
    port_settings.fBinary = TRUE;
    port_settings.fParity = FALSE;
    port_settings.fOutxCtsFlow = FALSE;
    port_settings.fOutxDsrFlow = FALSE;
    port_settings.fDtrControl = DTR_CONTROL_DISABLE;
    port_settings.fDsrSensitivity = FALSE;
    port_settings.fTXContinueOnXoff = TRUE;
    port_settings.fOutX = FALSE;
    port_settings.fInX = FALSE;
    port_settings.fErrorChar = FALSE;
    port_settings.fNull = FALSE;
    port_settings.fRtsControl = RTS_CONTROL_DISABLE;
    port_settings.fAbortOnError = FALSE;
    port_settings.ByteSize = 8;
    port_settings.Parity = NOPARITY;
    port_settings.StopBits = ONESTOPBIT;
    SetCommState(line->handle, &port_settings);
}

void line_set_read_timeout(serial_line* line, uint32_t total_ms) {
    line->read_timeout_ms = total_ms;
    if (!GetCommTimeouts(line->handle, &port_timeouts)) {
        return;
    }
    port_timeouts.ReadTotalTimeoutConstant = total_ms;
    SetCommTimeouts(line->handle, &port_timeouts);
}

// A failed transfer returns at once; the short wait keeps a loop of exchanges from spinning.
static void wait_as_lost_line(uint32_t read_timeout_ms) {
    uint32_t wait_ms = read_timeout_ms < LOST_LINE_READ_MS ? read_timeout_ms : LOST_LINE_READ_MS;
    sleep_ms(wait_ms);
}

uint32_t line_read(serial_line* line, uint8_t* destination, uint32_t count) {
    DWORD got = 0;
    if (!line->lost && !ReadFile(line->handle, destination, count, &got, nullptr)) {
        line->lost = true;
        got = 0;
    }
    if (line->lost) {
        wait_as_lost_line(line->read_timeout_ms);
        return 0;
    }
    return got;
}

uint32_t line_write(serial_line* line, const uint8_t* source, uint32_t count) {
    DWORD put = 0;
    if (line->lost || !WriteFile(line->handle, source, count, &put, nullptr)) {
        line->lost = true;
        return 0;
    }
    return put;
}

void line_break_on(serial_line* line) {
    SetCommBreak(line->handle);
}

void line_break_off(serial_line* line) {
    ClearCommBreak(line->handle);
}

void line_purge(serial_line* line) {
    PurgeComm(line->handle, PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR);
}

void line_close(serial_line* line) {
    CloseHandle(line->handle);
    delete line;
}
