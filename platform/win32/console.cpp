// The console on the Win32 console API. The console itself does the processed output (tab
// stops, wrap after column 79, newline): text goes out through stdout and is flushed at once,
// so that it stands on the screen before the next cursor move or attribute change.
#include "platform/console.h"

#include <cstdio>
#include <windows.h>

struct console_device {
    HANDLE handle;
};

static console_device screen;

console_device* console_open() {
    // Unshared and hidden, as the tool has always opened its screen. No console (output
    // redirected to a file or a pipe) gives an invalid handle: the text is still written.
    HANDLE handle = CreateFileA("CONOUT$", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_HIDDEN, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        return nullptr;
    }
    screen.handle = handle;
    return &screen;
}

void console_set_title(const char* title) {
    SetConsoleTitleA(title);
}

void console_set_attribute(console_device* console, uint16_t attribute) {
    if (console == nullptr) {
        return;
    }
    SetConsoleTextAttribute(console->handle, attribute);
}

void console_set_cursor(console_device* console, int16_t column, int16_t row) {
    if (console == nullptr) {
        return;
    }
    COORD position = {column, row};
    SetConsoleCursorPosition(console->handle, position);
}

void console_write(const char* text) {
    fputs(text, stdout);
    fflush(stdout);
}

void console_close(console_device* console) {
    if (console == nullptr) {
        return;
    }
    fflush(stdout);
    CloseHandle(console->handle);
}
