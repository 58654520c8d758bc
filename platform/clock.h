#pragma once
// The monotonic clock and sleeps, one implementation per OS.
#include <cstdint>

int64_t clock_now_us();
void sleep_ms(uint32_t ms);
// Returns at once when the deadline has passed already.
void sleep_until_us(int64_t deadline_us);
