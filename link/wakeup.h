#pragma once
// Waking the ECU: its address sent at 5 baud by hand, its answer bytes, its identification.
#include "platform/serial_line.h"

#include <cstdint>

constexpr uint8_t ECU_ADDRESS = 0x10;
constexpr uint32_t WAKE_BIT_MS = 200;
constexpr int ECU_ID_LENGTH = 6;
constexpr int ID_DATA_WANTED = 30;
// An ECU that never brings its identification data (empty frames for ever) cannot hold the
// start-up: after this many frames the tool goes on. Real ECUs send a handful.
constexpr int ID_FRAMES_MAX = 40;

void five_baud_init(serial_line* port);
void read_ecu_id();
void read_id_frames();
