#include "control/console.h"

#include <cstdarg>
#include <cstdio>

console_device* console_handle = nullptr;

static const char CONSOLE_TITLE[] = "Quelmar console version 1.0b - Bosch 2.10.4";
static const char BLANK_ROW[] = "                                                                  "
                                "             "; // 79 spaces

void open_console() {
    console_handle = console_open();
    console_set_title(CONSOLE_TITLE);
}

void clear_screen() {
    for (int16_t row = 0; row < 25; row++) {
        print_at(console_handle, BLANK_ROW, 0, row, COLOUR_WHITE);
    }
    print_at(console_handle, "", 0, 0, COLOUR_WHITE);
}

void print_at(console_device* handle, const char* text, int16_t column, int16_t row,
              uint16_t attribute) {
    console_set_attribute(handle, attribute);
    console_set_cursor(handle, column, row);
    console_write(text);
}

void print_at_cursor(const char* format, ...) {
    // Long enough for every message and screen line of the program; a longer text is cut.
    static char line[256];
    va_list arguments;
    va_start(arguments, format);
    vsnprintf(line, sizeof line, format, arguments);
    va_end(arguments);
    console_write(line);
}

void close_console() {
    console_close(console_handle);
    console_handle = nullptr;
}
