// The console on a terminal: terminfo sequences for cursor addressing, colours and the title,
// and the console's processed output done here, with the cursor tracked, so that tabs blank
// what they pass and "\n" never clears a row. No alternate screen: what the program wrote
// stays on the terminal after it ends.
#include "platform/console.h"

#include "platform/posix/terminal_state.h"
#include "platform/text_model.h"

#include <cstdio>
#include <cstring>
#include <curses.h>
#include <term.h>
#include <unistd.h>

struct console_device {
    const char* cup;
    const char* sgr0;
    const char* bold_on;
    const char* setaf;
    const char* setab;
    const char* tsl;
    const char* fsl;
    int colours;
};

static console_device terminal;
static bool terminal_open = false;

static text_cursor cursor = {0, 0};
// Where the terminal's own cursor stands; unknown after writing the last column of a row,
// where terminals differ (some wrap at once, most wait for the next character).
static text_cursor terminal_cursor = {0, 0};
static bool terminal_cursor_known = false;
static int current_attribute = -1;

static const char* capability(const char* name) {
    char* value = tigetstr(name);
    if (value == nullptr || value == reinterpret_cast<char*>(-1)) {
        return nullptr;
    }
    return value;
}

static void emit(const char* sequence) {
    if (sequence != nullptr) {
        fputs(sequence, stdout);
    }
}

static void emit_cursor_move(text_cursor to) {
    emit(tparm(terminal.cup, to.row, to.column, 0, 0, 0, 0, 0, 0, 0));
    terminal_cursor = to;
    terminal_cursor_known = true;
}

// The console's colour bits (0 blue, 1 green, 2 red) in the terminal's order (red, green, blue).
static int terminal_colour(uint16_t attribute) {
    return ((attribute & 4) ? 1 : 0) | (attribute & 2) | ((attribute & 1) ? 4 : 0);
}

static void append(char* buffer, size_t size, const char* sequence) {
    if (sequence != nullptr && strlen(buffer) + strlen(sequence) < size) {
        strcat(buffer, sequence);
    }
}

static void build_attribute_sequence(uint16_t attribute, char* buffer, size_t size) {
    buffer[0] = '\0';
    append(buffer, size, terminal.sgr0);
    int colour = terminal_colour(attribute);
    bool intense = (attribute & 8) != 0;
    if (terminal.setaf != nullptr && terminal.colours >= 16) {
        append(buffer, size,
               tparm(terminal.setaf, colour + (intense ? 8 : 0), 0, 0, 0, 0, 0, 0, 0, 0));
    } else if (terminal.setaf != nullptr && terminal.colours >= 8) {
        if (intense) {
            append(buffer, size, terminal.bold_on);
        }
        append(buffer, size, tparm(terminal.setaf, colour, 0, 0, 0, 0, 0, 0, 0, 0));
    } else if (intense) {
        append(buffer, size, terminal.bold_on);
    }
    if (terminal.setab != nullptr && terminal.colours >= 8) {
        append(buffer, size, tparm(terminal.setab, 0, 0, 0, 0, 0, 0, 0, 0, 0));
    }
}

console_device* console_open() {
    if (!isatty(STDOUT_FILENO)) {
        return nullptr;
    }
    int error = 0;
    if (setupterm(nullptr, STDOUT_FILENO, &error) != OK) {
        return nullptr;
    }
    terminal.cup = capability("cup");
    if (terminal.cup == nullptr) {
        return nullptr; // a terminal that cannot address its cells is taken as no console
    }
    terminal.sgr0 = capability("sgr0");
    terminal.bold_on = capability("bold");
    terminal.setaf = capability("setaf");
    terminal.setab = capability("setab");
    terminal.colours = tigetnum("colors");
    terminal.tsl = tigetflag("hs") > 0 ? capability("tsl") : nullptr;
    terminal.fsl = terminal.tsl != nullptr ? capability("fsl") : nullptr;

    char reset[128] = "";
    append(reset, sizeof reset, terminal.sgr0);
    append(reset, sizeof reset, capability("cnorm"));
    terminal_set_reset_sequence(reset);
    terminal_set_leave_sequence(tparm(terminal.cup, SCREEN_ROWS - 2, 0, 0, 0, 0, 0, 0, 0, 0));
    cursor = text_cursor{0, 0};
    terminal_cursor_known = false;
    current_attribute = -1;
    terminal_open = true;
    return &terminal;
}

void console_set_title(const char* title) {
    if (!terminal_open || terminal.tsl == nullptr || terminal.fsl == nullptr) {
        return;
    }
    emit(terminal.tsl);
    fputs(title, stdout);
    emit(terminal.fsl);
    fflush(stdout);
}

void console_set_attribute(console_device* console, uint16_t attribute) {
    if (console == nullptr || attribute == current_attribute) {
        return;
    }
    char sequence[128];
    build_attribute_sequence(attribute, sequence, sizeof sequence);
    emit(sequence); // flushed with the text that follows it
    terminal_set_attribute_sequence(sequence);
    current_attribute = attribute;
}

void console_set_cursor(console_device* console, int16_t column, int16_t row) {
    if (console == nullptr) {
        return;
    }
    cursor = model_cursor_at(column, row);
    emit_cursor_move(cursor); // flushed with the text that follows it
}

static void put_cell(int column, int row, char ch) {
    if (!terminal_cursor_known || terminal_cursor.column != column || terminal_cursor.row != row) {
        emit_cursor_move(text_cursor{column, row});
    }
    fputc(ch, stdout);
    terminal_cursor.column++;
    if (terminal_cursor.column >= SCREEN_COLUMNS) {
        terminal_cursor_known = false;
    }
}

static void scroll_up() {
    emit_cursor_move(text_cursor{0, SCREEN_ROWS - 1});
    fputc('\n', stdout);
}

void console_write(const char* text) {
    if (!terminal_open) {
        fputs(text, stdout);
        fflush(stdout);
        return;
    }
    for (const char* p = text; *p != '\0'; p++) {
        model_put_char(cursor, *p, put_cell, scroll_up);
    }
    if (!terminal_cursor_known || terminal_cursor.column != cursor.column ||
        terminal_cursor.row != cursor.row) {
        emit_cursor_move(cursor);
    }
    fflush(stdout);
}

void console_close(console_device* console) {
    if (console == nullptr) {
        return;
    }
    fflush(stdout);
    terminal_restore();
    terminal_open = false;
}
