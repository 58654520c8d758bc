#include "platform/clock.h"
#include "tests/fakes/fakes.h"

static int64_t virtual_now_us = 0;

void fake_clock_reset() {
    virtual_now_us = 0;
}

void fake_clock_advance_us(int64_t us) {
    virtual_now_us += us;
}

int64_t clock_now_us() {
    return virtual_now_us;
}

void sleep_ms(uint32_t ms) {
    virtual_now_us += int64_t(ms) * 1000;
}

void sleep_until_us(int64_t deadline_us) {
    if (deadline_us > virtual_now_us) {
        virtual_now_us = deadline_us;
    }
}
