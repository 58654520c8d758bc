#pragma once
// The console's processed output as a model: where each character of a text lands and where
// it leaves the cursor. The terminal writer and the test screen both follow it, so that the
// program's screen is the same on every console.
#include <cstdint>

constexpr int SCREEN_COLUMNS = 80;
constexpr int SCREEN_ROWS = 25;
constexpr int TAB_WIDTH = 8;

struct text_cursor {
    int column;
    int row;
};

// Puts one character through the model. put_cell(column, row, ch) is called for every cell the
// character writes (a tab writes blanks); scroll_up() when the cursor would leave the bottom
// row, after which the cursor stays on the bottom row.
template <class PutCell, class ScrollUp>
void model_put_char(text_cursor& cursor, char ch, PutCell put_cell, ScrollUp scroll_up) {
    auto next_row = [&] {
        cursor.column = 0;
        if (cursor.row + 1 >= SCREEN_ROWS) {
            scroll_up();
            cursor.row = SCREEN_ROWS - 1;
        } else {
            cursor.row++;
        }
    };
    if (ch == '\n') {
        next_row();
    } else if (ch == '\r') {
        cursor.column = 0;
    } else if (ch == '\t') {
        int stop = (cursor.column / TAB_WIDTH + 1) * TAB_WIDTH;
        if (stop > SCREEN_COLUMNS) {
            stop = SCREEN_COLUMNS;
        }
        for (int column = cursor.column; column < stop; column++) {
            put_cell(column, cursor.row, ' ');
        }
        cursor.column = stop;
        if (cursor.column >= SCREEN_COLUMNS) {
            next_row();
        }
    } else {
        put_cell(cursor.column, cursor.row, ch);
        cursor.column++;
        if (cursor.column >= SCREEN_COLUMNS) {
            next_row();
        }
    }
}

// A cursor position from the console's signed 16-bit coordinates, kept on the screen.
inline text_cursor model_cursor_at(int16_t column, int16_t row) {
    auto clamp = [](int value, int size) {
        return value < 0 ? 0 : value >= size ? size - 1 : value;
    };
    return text_cursor{clamp(column, SCREEN_COLUMNS), clamp(row, SCREEN_ROWS)};
}
