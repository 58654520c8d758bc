#include "services/live_data.h"

#include "control/console.h"
#include "control/quelmar.h"
#include "link/frame.h"

#include <cstdio>
#include <cstring>

uint8_t live_data_a[LIVE_DATA_A_SIZE] = {};
uint8_t live_data_b[LIVE_DATA_B_SIZE] = {};

// A raw value's entry stands in the row of the value rounded down to a multiple of 16, at the
// column of the remainder.
// clang-format off
const int32_t temperature_table[256] = {
    /*   0 */ -33, -33, -32, -31, -31, -30, -30, -29, -29, -28, -28, -27, -26, -25, -25, -24,
    /*  16 */ -23, -23, -22, -22, -21, -20, -20, -19, -18, -18, -17, -16, -16, -15, -14, -13,
    /*  32 */ -13, -12, -11, -11, -10, -10,  -9,  -8,  -8,  -7,  -6,  -6,  -6,  -5,  -4,  -3,
    /*  48 */  -3,  -2,  -1,   0,   0,   1,   2,   2,   3,   4,   4,   5,   6,   7,   7,   8,
    /*  64 */   9,   9,  10,  10,  11,  11,  12,  12,  13,  14,  14,  15,  16,  17,  18,  18,
    /*  80 */  19,  19,  20,  20,  21,  22,  22,  23,  24,  25,  25,  26,  26,  27,  27,  28,
    /*  96 */  29,  29,  30,  30,  31,  32,  32,  33,  34,  35,  35,  35,  36,  37,  38,  38,
    /* 112 */  39,  39,  40,  41,  41,  42,  43,  43,  44,  45,  45,  46,  47,  47,  48,  48,
    /* 128 */  49,  50,  50,  51,  52,  53,  53,  54,  55,  55,  56,  57,  57,  58,  59,  59,
    /* 144 */  60,  61,  61,  62,  63,  63,  64,  65,  66,  66,  67,  68,  68,  69,  70,  71,
    /* 160 */  71,  71,  72,  73,  73,  74,  75,  75,  75,  76,  77,  77,  78,  78,  79,  80,
    /* 176 */  80,  81,  81,  82,  82,  83,  84,  85,  86,  86,  87,  88,  88,  89,  89,  90,
    /* 192 */  91,  91,  92,  93,  93,  94,  94,  95,  96,  96,  96,  97,  98,  99,  99, 100,
    /* 208 */ 101, 101, 102, 103, 103, 104, 105, 106, 107, 107, 108, 109, 109, 110, 110, 111,
    /* 224 */ 111, 111, 112, 112, 113, 114, 115, 115, 115, 116, 117, 124, 124, 124, 124, 124,
    /* 240 */ 124, 124, 124, 124, 125, 125, 125, 125, 125, 125, 125, 125, 125, 125, 125, 125,
};
// clang-format on

constexpr uint8_t WINDOW_A_ADDRESS_LOW = 0x00; // 0x2000
constexpr uint8_t WINDOW_B_ADDRESS_LOW = 0x10; // 0x2010
constexpr uint8_t WINDOW_ADDRESS_HIGH = 0x20;

// Asks the ECU for count bytes of its RAM from 0x20 address_low and copies the reply's data
// bytes, whatever stands there: a reply that fell short leaves the zeros of the cleared buffer.
static void read_ram_window(uint8_t address_low, uint8_t* destination, int count) {
    frame_buffer[3] = uint8_t(count);
    frame_buffer[4] = WINDOW_ADDRESS_HIGH;
    frame_buffer[5] = address_low;
    if (send_frame(TITLE_READ_RAM, 3) != 0) {
        print_at_cursor("Error in ram address frame tx\n");
    }
    receive_frame();
    memcpy(destination, &frame_buffer[3], size_t(count));
}

// The readings are worked out in single precision, each step rounded to float, so that every
// raw byte gives the same text and colour as exact decimal arithmetic does.

static void show_engine_speed() {
    float rpm = live_data_a[0] * 40.0f;
    if (rpm < 2500.0f) {
        rpm = live_data_a[1] * 10.0f;
    }
    uint16_t colour = COLOUR_GREEN;
    if (rpm < 500.0f || rpm > 6500.0f) {
        colour = COLOUR_RED;
    } else if (rpm < 800.0f || rpm > 6000.0f) {
        colour = COLOUR_YELLOW;
    }
    snprintf(tmp, sizeof tmp, "Revs:\t\t%d rpm     ", int(rpm));
    print_at(console_handle, tmp, 0, 5, colour);
}

static uint16_t temperature_colour(float degrees) {
    if (degrees > 125.0f) {
        return COLOUR_RED;
    }
    return degrees > 105.0f ? COLOUR_YELLOW : COLOUR_GREEN;
}

static void show_water_temperature() {
    float degrees = float(temperature_table[live_data_a[2]]);
    snprintf(tmp, sizeof tmp, "Water temp:\t%d degrees    ", int(degrees));
    print_at(console_handle, tmp, 40, 5, temperature_colour(degrees));
}

static void show_air_temperature() {
    float degrees = float(temperature_table[live_data_a[3]]);
    snprintf(tmp, sizeof tmp, "Air temp:\t%d degrees    ", int(degrees));
    print_at(console_handle, tmp, 0, 6, temperature_colour(degrees));
}

static void show_throttle_angle() {
    float degrees = live_data_a[4] * 96.0f / 230.4f;
    snprintf(tmp, sizeof tmp, "Throttle:\t%d degrees    ", int(degrees));
    print_at(console_handle, tmp, 40, 6, COLOUR_GREEN);
}

static void show_mass_air_flow() {
    float flow = live_data_a[5] * 1.6f;
    if (flow < 51.0f) {
        flow = live_data_a[6] * 0.2f;
    }
    snprintf(tmp, sizeof tmp, "Mass air flow:\t%d m^3/hr    ", int(flow));
    print_at(console_handle, tmp, 0, 7, COLOUR_GREEN);
}

static void show_ignition_advance() {
    float degrees = 78.0f - live_data_a[7] * 0.75f;
    snprintf(tmp, sizeof tmp, "Ign. advance:\t%d degrees    ", int(degrees));
    print_at(console_handle, tmp, 40, 7, COLOUR_GREEN);
}

static void show_injection_time() {
    float ms = live_data_a[8] * 0.384f;
    if (ms < 1.0f) {
        ms = live_data_a[9] / 255.0f;
    }
    snprintf(tmp, sizeof tmp, "Injector time:\t%0.1f ms   ", double(ms));
    print_at(console_handle, tmp, 0, 8, COLOUR_GREEN);
}

static void show_battery_voltage() {
    float volts = live_data_b[0] * 0.0705f;
    uint16_t colour = COLOUR_GREEN;
    if (volts < 12.0f || volts > 14.5f) {
        colour = COLOUR_RED;
    } else if (volts < 13.0f || volts > 14.0f) {
        colour = COLOUR_YELLOW;
    }
    snprintf(tmp, sizeof tmp, "Battery:\t%2.1f V   ", double(volts));
    print_at(console_handle, tmp, 40, 8, colour);
}

static void show_road_speed() {
    float kph = float(live_data_b[1]);
    snprintf(tmp, sizeof tmp, "Speed:\t\t%d kph   ", int(kph));
    print_at(console_handle, tmp, 0, 9, COLOUR_GREEN);
}

static void show_lambda_voltage() {
    float volts = live_data_b[4] * 1.25f / 255.0f;
    snprintf(tmp, sizeof tmp, "Lambda:\t\t%1.2f V   ", double(volts));
    print_at(console_handle, tmp, 40, 9, COLOUR_GREEN);
}

static void show_lambda_integrator() {
    float percent = (live_data_b[6] - 128) * 0.8f;
    snprintf(tmp, sizeof tmp, "Int. lambda:\t%d %%   ", int(percent));
    print_at(console_handle, tmp, 0, 10, COLOUR_GREEN);
}

void poll_live_data() {
    read_ram_window(WINDOW_A_ADDRESS_LOW, live_data_a, LIVE_DATA_A_SIZE);
    read_ram_window(WINDOW_B_ADDRESS_LOW, live_data_b, LIVE_DATA_B_SIZE);
    // Row by row, the left column before the right.
    show_engine_speed();
    show_water_temperature();
    show_air_temperature();
    show_throttle_angle();
    show_mass_air_flow();
    show_ignition_advance();
    show_injection_time();
    show_battery_voltage();
    show_road_speed();
    show_lambda_voltage();
    show_lambda_integrator();
}
