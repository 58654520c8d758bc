#include "platform/clock.h"
#include "platform/console.h"
#include "platform/text_model.h"
#include "tests/fakes/fakes.h"

struct console_device {
    int unused;
};

static console_device the_console;
fake_screen_state fake_screen;

void fake_screen_fill(char ch, uint16_t attribute) {
    for (auto& row : fake_screen.cells) {
        for (auto& cell : row) {
            cell = screen_cell{ch, attribute};
        }
    }
}

void fake_screen_reset() {
    fake_screen = fake_screen_state{};
    fake_screen_fill(' ', 7);
}

std::string fake_screen_row(int row) {
    return fake_screen_text(0, row, SCREEN_COLUMNS);
}

std::string fake_screen_text(int column, int row, int length) {
    std::string text;
    for (int c = column; c < column + length && c < SCREEN_COLUMNS; c++) {
        text += fake_screen.cells[row][c].ch;
    }
    return text;
}

uint16_t fake_screen_attribute(int column, int row) {
    return fake_screen.cells[row][column].attribute;
}

console_device* console_open() {
    if (fake_screen.no_console) {
        return nullptr;
    }
    fake_screen.open = true;
    return &the_console;
}

void console_set_title(const char* title) {
    fake_screen.title = title;
}

void console_set_attribute(console_device* console, uint16_t attribute) {
    if (console != nullptr) {
        fake_screen.attribute = attribute;
    }
}

void console_set_cursor(console_device* console, int16_t column, int16_t row) {
    if (console != nullptr) {
        text_cursor at = model_cursor_at(column, row);
        fake_screen.column = at.column;
        fake_screen.row = at.row;
    }
}

void console_write(const char* text) {
    fake_screen.output += text;
    fake_screen.writes.push_back(screen_write{fake_screen.column, fake_screen.row,
                                              fake_screen.attribute, text, clock_now_us()});
    text_cursor cursor{fake_screen.column, fake_screen.row};
    for (const char* p = text; *p != '\0'; p++) {
        model_put_char(
            cursor, *p,
            [](int column, int row, char ch) {
                fake_screen.cells[row][column] = screen_cell{ch, fake_screen.attribute};
            },
            [] {
                for (int row = 1; row < SCREEN_ROWS; row++) {
                    for (int column = 0; column < SCREEN_COLUMNS; column++) {
                        fake_screen.cells[row - 1][column] = fake_screen.cells[row][column];
                    }
                }
                for (auto& cell : fake_screen.cells[SCREEN_ROWS - 1]) {
                    cell = screen_cell{' ', 7};
                }
            });
    }
    fake_screen.column = cursor.column;
    fake_screen.row = cursor.row;
}

void console_close(console_device* console) {
    if (console != nullptr) {
        fake_screen.closed = true;
    }
}
