#pragma once
// The ECU's error memory: read into error_table every 20th poll, cleared on request.
#include <cstdint>

struct error_record {
    uint8_t code; // 1 to 255; 0 marks an empty slot
    uint8_t status;
    uint8_t byte_2;
    uint8_t byte_3;
    uint8_t value;
};

constexpr int ERROR_TABLE_SIZE = 10;
// The most record frames one collection takes. A real error memory fits in a few frames (ten
// records are five); the bound only keeps an ECU that never ends its list from holding the
// polling loop, for a few seconds at most on the line.
constexpr int ERROR_FRAMES_MAX = 32;

extern error_record error_table[ERROR_TABLE_SIZE];

void read_error_memory();
void clear_error_memory();
