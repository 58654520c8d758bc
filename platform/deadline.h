#pragma once
// Time-outs on the monotonic clock: one helper, so that no call site does the arithmetic.
#include "platform/clock.h"

#include <cstdint>

struct deadline {
    int64_t at_us;
};

inline deadline deadline_after_ms(uint32_t ms) {
    return deadline{clock_now_us() + int64_t(ms) * 1000};
}

inline int64_t deadline_remaining_us(deadline d) {
    int64_t left = d.at_us - clock_now_us();
    return left > 0 ? left : 0;
}

inline bool deadline_expired(deadline d) {
    return deadline_remaining_us(d) == 0;
}
