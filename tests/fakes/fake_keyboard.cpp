#include "platform/keyboard.h"
#include "tests/fakes/fakes.h"

#include <deque>
#include <map>
#include <vector>

static std::deque<int> keys;
static std::map<int, std::vector<int>> keys_by_pass;
static int passes = 0;

void fake_keys_reset() {
    keys.clear();
    keys_by_pass.clear();
    passes = 0;
}

void fake_keys_at_pass(int pass, std::initializer_list<int> codes) {
    std::vector<int>& at = keys_by_pass[pass];
    at.insert(at.end(), codes.begin(), codes.end());
}

int fake_keys_passes() {
    return passes;
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
    passes++;
    auto arriving = keys_by_pass.find(passes);
    if (arriving != keys_by_pass.end()) {
        keys.insert(keys.end(), arriving->second.begin(), arriving->second.end());
    }
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
