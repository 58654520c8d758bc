// A running engine behind the ECU's RAM windows at 0x2000..0x2009 and 0x2010..0x2016.
//
// The model is a function of the time since the tool woke the ECU: ignition on with the engine
// stopped, cranking, a fast cold idle that settles as the coolant warms, a blip of the throttle
// every 20 s (every third one to the yellow revs), and after warm-up the lambda sensor swinging
// around 0.45 V with the integrator following. It has no state, so a test can ask for any time.
#pragma once

#include <cstdint>

struct engine_reading {
    float rpm;
    float coolant_c;
    float air_c;
    float throttle_deg;
    float air_flow; // m^3/hr
    float advance_deg;
    float injection_ms;
    float battery_v;
    float speed_kph;
    float lambda_v;
    float lambda_integrator_pct;
};

constexpr double ENGINE_CRANK_START_S = 3.0;
constexpr double ENGINE_RUN_START_S = 4.5;
constexpr double ENGINE_CLOSED_LOOP_S = 20.0;
constexpr double ENGINE_FIRST_BLIP_S = 12.0;
constexpr double ENGINE_BLIP_PERIOD_S = 20.0;

engine_reading engine_at(double t);

// Encodes a reading into the RAM bytes the tool decodes (index = address - 0x2000).
void engine_to_ram(const engine_reading* r, uint8_t ram[256]);

extern const int32_t sim_temperature_table[256];
