#include "engine_model.h"

#include <cmath>

// Raw temperature byte to degrees Celsius, as the tool decodes it.
const int32_t sim_temperature_table[256] = {
    -33, -33, -32, -31, -31, -30, -30, -29, -29, -28, -28, -27, -26, -25, -25, -24, // 0
    -23, -23, -22, -22, -21, -20, -20, -19, -18, -18, -17, -16, -16, -15, -14, -13, // 16
    -13, -12, -11, -11, -10, -10, -9,  -8,  -8,  -7,  -6,  -6,  -6,  -5,  -4,  -3,  // 32
    -3,  -2,  -1,  0,   0,   1,   2,   2,   3,   4,   4,   5,   6,   7,   7,   8,   // 48
    9,   9,   10,  10,  11,  11,  12,  12,  13,  14,  14,  15,  16,  17,  18,  18,  // 64
    19,  19,  20,  20,  21,  22,  22,  23,  24,  25,  25,  26,  26,  27,  27,  28,  // 80
    29,  29,  30,  30,  31,  32,  32,  33,  34,  35,  35,  35,  36,  37,  38,  38,  // 96
    39,  39,  40,  41,  41,  42,  43,  43,  44,  45,  45,  46,  47,  47,  48,  48,  // 112
    49,  50,  50,  51,  52,  53,  53,  54,  55,  55,  56,  57,  57,  58,  59,  59,  // 128
    60,  61,  61,  62,  63,  63,  64,  65,  66,  66,  67,  68,  68,  69,  70,  71,  // 144
    71,  71,  72,  73,  73,  74,  75,  75,  75,  76,  77,  77,  78,  78,  79,  80,  // 160
    80,  81,  81,  82,  82,  83,  84,  85,  86,  86,  87,  88,  88,  89,  89,  90,  // 176
    91,  91,  92,  93,  93,  94,  94,  95,  96,  96,  96,  97,  98,  99,  99,  100, // 192
    101, 101, 102, 103, 103, 104, 105, 106, 107, 107, 108, 109, 109, 110, 110, 111, // 208
    111, 111, 112, 112, 113, 114, 115, 115, 115, 116, 117, 124, 124, 124, 124, 124, // 224
    124, 124, 124, 124, 125, 125, 125, 125, 125, 125, 125, 125, 125, 125, 125, 125, // 240
};

static const double PI = 3.14159265358979;

static uint8_t clamp_byte(double v) {
    if (v <= 0) {
        return 0;
    }
    if (v >= 255) {
        return 255;
    }
    return (uint8_t)lround(v);
}

// 0 outside a blip; rises to 1, holds, and falls back within 1.6 s.
static double blip_shape(double p) {
    if (p < 0 || p >= 1.6) {
        return 0;
    }
    if (p < 0.3) {
        return p / 0.3;
    }
    if (p < 0.8) {
        return 1;
    }
    return 1 - (p - 0.8) / 0.8;
}

engine_reading engine_at(double t) {
    engine_reading r = {};
    r.air_c = (float)(18 + 10 * (1 - exp(-t / 300)));
    r.coolant_c = 20;
    r.lambda_v = 0.45f;
    if (t < ENGINE_CRANK_START_S) {
        r.advance_deg = 0;
        r.battery_v = 12.4f; // ignition on, engine stopped: yellow
        return r;
    }
    if (t < ENGINE_RUN_START_S) {
        r.rpm = (float)(220 + 40 * sin(2 * PI * 6 * t));
        r.throttle_deg = 0.8f;
        r.air_flow = 4;
        r.advance_deg = 5;
        r.injection_ms = 6;
        r.battery_v = 10.2f; // the starter pulls the battery down: red
        return r;
    }
    double run = t - ENGINE_RUN_START_S;
    double warm = 1 - exp(-run / 120);
    r.coolant_c = (float)(20 + 68 * warm);
    double idle = 850 + 350 * (1 - warm) + 15 * sin(2 * PI * 0.7 * t);

    double shape = 0;
    double peak = 3200;
    bool closing = false;
    if (t >= ENGINE_FIRST_BLIP_S) {
        double since = t - ENGINE_FIRST_BLIP_S;
        int blip = (int)(since / ENGINE_BLIP_PERIOD_S);
        double p = since - blip * ENGINE_BLIP_PERIOD_S;
        shape = blip_shape(p);
        closing = p >= 0.8 && shape > 0;
        if (blip % 3 == 2) {
            peak = 6200;
        }
    }
    double throttle = peak > 5000 ? 60 : 25;
    r.rpm = (float)(idle + (peak - idle) * shape);
    r.throttle_deg = (float)(0.8 + (throttle - 0.8) * (closing ? shape * shape : shape));
    r.air_flow = (float)(0.012 * r.rpm * (1 + r.throttle_deg / 15));
    r.advance_deg = (float)(12 + 2 * sin(2 * PI * 0.3 * t) + 20 * shape);
    r.injection_ms = (float)(2.2 + 1.0 * (1 - warm) + 4 * shape);
    if (closing && r.rpm > idle + 300) {
        r.injection_ms = 0.3f; // overrun: fuel cut
    }
    r.battery_v = (float)(13.9 + 0.5 * exp(-run / 4) + 0.05 * sin(2 * PI * 0.2 * t));
    if (t >= ENGINE_CLOSED_LOOP_S) {
        double phase = 2 * PI * t / 1.2;
        r.lambda_v = (float)(0.45 + 0.4 * tanh(3 * sin(phase)));
        r.lambda_integrator_pct = (float)(-6 * cos(phase));
    }
    if (shape > 0.5 && !closing) {
        r.lambda_v = 0.8f; // enrichment under load
    }
    return r;
}

// The smallest raw byte that shows at least this temperature.
static uint8_t temperature_byte(float celsius) {
    for (int raw = 0; raw < 256; raw++) {
        if (sim_temperature_table[raw] >= celsius) {
            return (uint8_t)raw;
        }
    }
    return 255;
}

// A reading with a coarse and a fine byte shows the fine one while the coarse value stays
// below its switch limit, so the coarse byte is rounded down there.
static void coarse_fine(double value, double coarse_step, double limit, double fine_step,
                        uint8_t* coarse, uint8_t* fine) {
    if (value < limit) {
        *coarse = (uint8_t)floor(value / coarse_step);
        if (*coarse * coarse_step >= limit) {
            (*coarse)--;
        }
    } else {
        *coarse = clamp_byte(value / coarse_step);
        if (*coarse * coarse_step < limit) {
            (*coarse)++;
        }
    }
    *fine = clamp_byte(value / fine_step);
}

void engine_to_ram(const engine_reading* r, uint8_t ram[256]) {
    coarse_fine(r->rpm, 40, 2500, 10, &ram[0x00], &ram[0x01]);
    ram[0x02] = temperature_byte(r->coolant_c);
    ram[0x03] = temperature_byte(r->air_c);
    ram[0x04] = clamp_byte(r->throttle_deg * 230.4 / 96);
    coarse_fine(r->air_flow, 1.6, 51, 0.2, &ram[0x05], &ram[0x06]);
    ram[0x07] = clamp_byte((78 - r->advance_deg) / 0.75);
    coarse_fine(r->injection_ms, 0.384, 1.0, 1.0 / 255, &ram[0x08], &ram[0x09]);
    ram[0x10] = clamp_byte(r->battery_v / 0.0705);
    ram[0x11] = clamp_byte(r->speed_kph);
    ram[0x14] = clamp_byte(r->lambda_v * 255 / 1.25);
    ram[0x16] = clamp_byte(r->lambda_integrator_pct / 0.8 + 128);
}
