#pragma once
// Live data: two windows of ECU RAM read on every poll and shown as eleven engine readings.
#include <cstdint>

constexpr int LIVE_DATA_A_SIZE = 10; // ECU RAM 0x2000 to 0x2009
constexpr int LIVE_DATA_B_SIZE = 7;  // ECU RAM 0x2010 to 0x2016

extern uint8_t live_data_a[LIVE_DATA_A_SIZE];
extern uint8_t live_data_b[LIVE_DATA_B_SIZE];
// Degrees Celsius for a raw temperature byte (water and air).
extern const int32_t temperature_table[256];

void poll_live_data();
