// Placeholder until the live data and error memory services land; replaced by them.
#include "services/error_memory.h"
#include "services/error_messages.h"
#include "services/live_data.h"

uint8_t live_data_a[LIVE_DATA_A_SIZE] = {};
uint8_t live_data_b[LIVE_DATA_B_SIZE] = {};
error_record error_table[ERROR_TABLE_SIZE] = {};

void poll_live_data() {}
void read_error_memory() {}
void clear_error_memory() {}
void show_error_messages() {}
