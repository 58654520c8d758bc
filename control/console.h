#pragma once
// The console writer: the one screen of 80 by 25 cells that all output goes to.
#include "platform/console.h"

#include <cstdint>

constexpr uint16_t COLOUR_WHITE = 15;
constexpr uint16_t COLOUR_YELLOW = 14;
constexpr uint16_t COLOUR_RED = 12;
constexpr uint16_t COLOUR_GREEN = 10;
constexpr uint16_t COLOUR_BLUE = 9;

extern console_device* console_handle;

void open_console();
void clear_screen();
// Writes text at a place in an attribute, and leaves that attribute current and the cursor
// right after the text. Never blanks anything beyond the text; "" only moves and colours.
void print_at(console_device* handle, const char* text, int16_t column, int16_t row,
              uint16_t attribute);
// printf-style output at the cursor, in the current attribute.
void print_at_cursor(const char* format, ...) __attribute__((format(printf, 1, 2)));
void close_console();
