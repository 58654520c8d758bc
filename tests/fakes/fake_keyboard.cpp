#include "platform/keyboard.h"
#include "tests/fakes/fakes.h"

#include <deque>

static std::deque<int> keys;

void fake_keys_reset() {
    keys.clear();
}

void fake_keys_push(std::initializer_list<int> codes) {
    keys.insert(keys.end(), codes.begin(), codes.end());
}

void fake_keys_push_text(const char* text) {
    for (const char* p = text; *p != '\0'; p++) {
        keys.push_back(static_cast<unsigned char>(*p));
    }
}

bool fake_keys_empty() {
    return keys.empty();
}

void keyboard_open() {}

bool key_waiting() {
    return !keys.empty();
}

int key_read() {
    if (keys.empty()) {
        return 0;
    }
    int code = keys.front();
    keys.pop_front();
    return code;
}

void keyboard_close() {}
