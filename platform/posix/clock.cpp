#include "platform/clock.h"

#include <cerrno>
#include <ctime>

static timespec timespec_from_us(int64_t us) {
    timespec t;
    t.tv_sec = time_t(us / 1000000);
    t.tv_nsec = long(us % 1000000) * 1000;
    return t;
}

int64_t clock_now_us() {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return int64_t(now.tv_sec) * 1000000 + now.tv_nsec / 1000;
}

void sleep_until_us(int64_t deadline_us) {
    timespec until = timespec_from_us(deadline_us);
    // A signal (a resize, a resume after Ctrl-Z) cuts the sleep short; the deadline stays.
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &until, nullptr) == EINTR) {
    }
}

void sleep_ms(uint32_t ms) {
    sleep_until_us(clock_now_us() + int64_t(ms) * 1000);
}
