// The engine model as the tool sees it: its RAM bytes decoded with the tool's formulas and
// coloured with the tool's limits.
#include "engine_model.h"

#include <cmath>
#include <gtest/gtest.h>

namespace {

enum colour { GREEN, YELLOW, RED };

struct shown {
    float rpm;
    colour rpm_colour;
    int water;
    int air;
    float throttle;
    float air_flow;
    float advance;
    float injection;
    float battery;
    colour battery_colour;
    float lambda;
    float integrator;
};

// The tool's decoding, in single precision.
shown decode(double t) {
    engine_reading r = engine_at(t);
    uint8_t a[256] = {};
    engine_to_ram(&r, a);
    const uint8_t* b = a + 0x10;
    shown s;
    float coarse = a[0] * 40.0f;
    s.rpm = coarse < 2500 ? a[1] * 10.0f : coarse;
    s.rpm_colour = s.rpm < 500 || s.rpm > 6500 ? RED : s.rpm < 800 || s.rpm > 6000 ? YELLOW : GREEN;
    s.water = sim_temperature_table[a[2]];
    s.air = sim_temperature_table[a[3]];
    s.throttle = a[4] * 96.0f / 230.4f;
    coarse = a[5] * 1.6f;
    s.air_flow = coarse < 51 ? a[6] * 0.2f : coarse;
    s.advance = 78 - a[7] * 0.75f;
    coarse = a[8] * 0.384f;
    s.injection = coarse < 1.0f ? a[9] / 255.0f : coarse;
    s.battery = b[0] * 0.0705f;
    s.battery_colour = s.battery < 12.0f || s.battery > 14.5f   ? RED
                       : s.battery < 13.0f || s.battery > 14.0f ? YELLOW
                                                                : GREEN;
    s.lambda = b[4] * 1.25f / 255;
    s.integrator = (b[6] - 128) * 0.8f;
    return s;
}

TEST(engine_model, encoded_values_decode_to_the_model_within_one_step) {
    for (double t = 0; t < 90; t += 0.05) {
        engine_reading r = engine_at(t);
        shown s = decode(t);
        SCOPED_TRACE(t);
        EXPECT_NEAR(s.rpm, r.rpm, r.rpm < 2500 ? 5.01 : 20.01);
        EXPECT_NEAR(s.throttle, r.throttle_deg, 0.21);
        EXPECT_NEAR(s.air_flow, std::fmin(r.air_flow, 408), r.air_flow < 51 ? 0.11 : 0.81);
        EXPECT_NEAR(s.advance, r.advance_deg, 0.38);
        EXPECT_NEAR(s.injection, r.injection_ms, r.injection_ms < 1 ? 0.003 : 0.193);
        EXPECT_NEAR(s.battery, r.battery_v, 0.036);
        EXPECT_NEAR(s.lambda, r.lambda_v, 0.0025);
        EXPECT_NEAR(s.integrator, r.lambda_integrator_pct, 0.41);
        EXPECT_GE(s.water, r.coolant_c);
        EXPECT_LE(s.water, r.coolant_c + 7);
    }
}

TEST(engine_model, a_minute_shows_a_starting_and_running_engine_in_all_colours) {
    // Ignition on, engine stopped: no revs (red) and a battery not charging (yellow).
    EXPECT_EQ(decode(1).rpm, 0);
    EXPECT_EQ(decode(1).battery_colour, YELLOW);
    // Cranking: low revs and the starter pulling the battery down, both red.
    EXPECT_EQ(decode(3.7).rpm_colour, RED);
    EXPECT_GT(decode(3.7).rpm, 100);
    EXPECT_EQ(decode(3.7).battery_colour, RED);

    int colours[3] = {};
    float lowest_lambda = 2, highest_lambda = 0, highest_rpm = 0;
    int previous_water = -100;
    for (double t = 6; t < 66; t += 0.05) {
        shown s = decode(t);
        colours[s.rpm_colour]++;
        colours[s.battery_colour]++;
        highest_rpm = std::fmax(highest_rpm, s.rpm);
        EXPECT_GE(s.water, previous_water) << "the coolant only warms up, at " << t;
        previous_water = s.water;
        if (t > ENGINE_CLOSED_LOOP_S) {
            lowest_lambda = std::fmin(lowest_lambda, s.lambda);
            highest_lambda = std::fmax(highest_lambda, s.lambda);
        }
        bool blipping = s.throttle > 2;
        if (!blipping && t > 8) {
            EXPECT_EQ(s.rpm_colour, GREEN) << "idle at " << t << ": " << s.rpm;
        }
    }
    EXPECT_GT(colours[GREEN], 0);
    EXPECT_GT(colours[YELLOW], 0) << "the big blip reaches the yellow revs";
    EXPECT_GT(highest_rpm, 6000);
    EXPECT_LT(lowest_lambda, 0.2f);
    EXPECT_GT(highest_lambda, 0.7f);
    EXPECT_GT(decode(65).water, decode(6).water + 20);
}

} // namespace

namespace {

TEST(engine_model, temperature_table_matches_the_tools_known_points) {
    const int points[][2] = {{0, -33},   {52, 0},    {214, 105}, {215, 106}, {234, 117},
                             {235, 124}, {243, 124}, {244, 125}, {255, 125}};
    for (const auto& p : points) {
        EXPECT_EQ(sim_temperature_table[p[0]], p[1]) << "raw " << p[0];
    }
    for (int raw = 1; raw < 256; raw++) {
        EXPECT_GE(sim_temperature_table[raw], sim_temperature_table[raw - 1]) << "raw " << raw;
    }
}

} // namespace
