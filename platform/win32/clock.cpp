// The clock on the performance counter, and sleeps against deadlines on it. The system timer
// ticks every 15.6 ms unless asked for better, which would throw the wake-up's 200 ms bits far
// off their grid: the first sleep asks for 1 ms for the rest of the run. SleepEx may still
// overrun its time by a tick, so the last stretch before a deadline is waited out on the counter.
#include "platform/clock.h"

#include <cstdlib>
#include <windows.h>

#include <timeapi.h>

// Below this much time left, sleeping could overrun the deadline.
constexpr int64_t COUNTER_WAIT_US = 2000;
constexpr UINT TIMER_RESOLUTION_MS = 1;

static int64_t counter_frequency = 0;
static bool timer_resolution_asked = false;

static void give_back_timer_resolution() {
    timeEndPeriod(TIMER_RESOLUTION_MS);
}

static void ask_for_timer_resolution() {
    if (timer_resolution_asked) {
        return;
    }
    timer_resolution_asked = true;
    if (timeBeginPeriod(TIMER_RESOLUTION_MS) == TIMERR_NOERROR) {
        atexit(give_back_timer_resolution);
    }
}

int64_t clock_now_us() {
    if (counter_frequency == 0) {
        LARGE_INTEGER frequency;
        QueryPerformanceFrequency(&frequency);
        counter_frequency = frequency.QuadPart;
    }
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    // Whole seconds and the rest apart: counts times a million would overflow within hours.
    int64_t seconds = now.QuadPart / counter_frequency;
    int64_t rest = now.QuadPart % counter_frequency;
    return seconds * 1000000 + rest * 1000000 / counter_frequency;
}

void sleep_until_us(int64_t deadline_us) {
    ask_for_timer_resolution();
    for (;;) {
        int64_t left_us = deadline_us - clock_now_us();
        if (left_us <= 0) {
            return;
        }
        if (left_us > COUNTER_WAIT_US) {
            SleepEx(DWORD((left_us - COUNTER_WAIT_US) / 1000), FALSE);
        } else {
            SleepEx(0, FALSE); // gives the processor to any other ready thread
        }
    }
}

void sleep_ms(uint32_t ms) {
    sleep_until_us(clock_now_us() + int64_t(ms) * 1000);
}
