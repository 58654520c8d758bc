#pragma once
// The text console, one implementation per OS.
//
// What the rest of the program may assume:
// - The screen is 80 columns by 25 rows; places count from 0 at the top left.
// - console_write puts text at the cursor with the console's processed output: ordinary
//   characters advance the cursor and wrap after column 79; "\n" goes to column 0 of the next
//   row without blanking anything; "\r" to column 0 of the same row; a tab blanks the cells it
//   passes up to the next multiple of 8 (from column 72 on: the rest of the row, then column 0
//   of the next row). The text stands on the screen before console_write returns.
// - The attribute and the cursor position stay as set until changed; all text lands at the
//   cursor in the current attribute, whoever wrote it.
// - When there is no console (output is not a terminal, or its type is unknown) console_open
//   returns nullptr; attribute and cursor calls on it do nothing and text is still written.
// - The screen keeps what was written after the program ends.
#include <cstdint>

struct console_device;

console_device* console_open();
void console_set_title(const char* title);
// Attribute bits: 0 blue, 1 green, 2 red, 3 intensity (background bits are never set).
void console_set_attribute(console_device* console, uint16_t attribute);
void console_set_cursor(console_device* console, int16_t column, int16_t row);
void console_write(const char* text);
void console_close(console_device* console);
