// The keyboard through the C run-time's console functions. _getch delivers a function or cursor
// key as two codes, a prefix (0x00 or 0xE0) and the key's scan code; the scan code is taken
// with its prefix, so that F10 (0x00 0x44) never acts as "D" nor Page Down (0xE0 0x51) as "Q".
#include "platform/keyboard.h"

#include "platform/win32/win32_keys.h"

#include <conio.h>
#include <windows.h>

constexpr int FUNCTION_KEY_PREFIX = 0x00;
constexpr int EXTENDED_KEY_PREFIX = 0xE0;

void keyboard_open() {
    // Some consoles (Wine's among them) let _kbhit see keys only once the input handle has
    // been waited on; on others this returns at once and changes nothing.
    WaitForSingleObject(GetStdHandle(STD_INPUT_HANDLE), 0);
}

bool key_waiting() {
    return _kbhit() != 0;
}

int key_from_codes(int first, int (*next_code)()) {
    if (first == FUNCTION_KEY_PREFIX || first == EXTENDED_KEY_PREFIX) {
        next_code(); // the scan code, which follows at once
    }
    return first;
}

static int next_console_code() {
    return _getch();
}

int key_read() {
    return key_from_codes(_getch(), next_console_code);
}

void keyboard_close() {
    // Nothing to restore: _getch changes no console mode.
}
