// Live data: the two RAM windows on the wire, and the eleven readings on rows 5 to 10.
#include "services_fixture.h"

#include <initializer_list>
#include <map>
#include <utility>
#include <vector>

namespace {

constexpr int WINDOW_A = 0x2000;
constexpr int WINDOW_B = 0x2010;

struct reading_place {
    int column;
    int row;
    const char* label;
    const char* unit; // after the number, with the trailing spaces
};

// In the order they are shown; a label's tabs take the number to column 16 of its column.
const reading_place PLACES[11] = {
    {0, 5, "Revs:", " rpm     "},
    {40, 5, "Water temp:", " degrees    "},
    {0, 6, "Air temp:", " degrees    "},
    {40, 6, "Throttle:", " degrees    "},
    {0, 7, "Mass air flow:", " m^3/hr    "},
    {40, 7, "Ign. advance:", " degrees    "},
    {0, 8, "Injector time:", " ms   "},
    {40, 8, "Battery:", " V   "},
    {0, 9, "Speed:", " kph   "},
    {40, 9, "Lambda:", " V   "},
    {0, 10, "Int. lambda:", " %   "},
};
enum reading {
    ENGINE_SPEED,
    WATER_TEMPERATURE,
    AIR_TEMPERATURE,
    THROTTLE,
    AIR_FLOW,
    IGNITION_ADVANCE,
    INJECTION_TIME,
    BATTERY,
    ROAD_SPEED,
    LAMBDA,
    LAMBDA_INTEGRATOR
};

struct shown_reading {
    std::string number;
    uint16_t colour;
};

// A non-negative value given in units of 10^-decimals, as "%.Nf" prints it.
std::string fixed_point(int scaled, int decimals) {
    char text[16];
    int unit = decimals == 1 ? 10 : 100;
    snprintf(text, sizeof text, "%d.%0*d", scaled / unit, decimals, scaled % unit);
    return text;
}

// What the screen must show for the raw windows, worked out in exact integer arithmetic on the
// readings' decimal constants (scaled up where they have decimals), halves rounded up.
std::vector<shown_reading> exact_readings(const uint8_t a[10], const uint8_t b[7]) {
    std::vector<shown_reading> shown(11);
    int rpm = a[0] * 40 < 2500 ? a[1] * 10 : a[0] * 40;
    uint16_t rpm_colour = rpm < 500 || rpm > 6500   ? COLOUR_RED
                          : rpm < 800 || rpm > 6000 ? COLOUR_YELLOW
                                                    : COLOUR_GREEN;
    shown[ENGINE_SPEED] = {std::to_string(rpm), rpm_colour};
    for (int which : {WATER_TEMPERATURE, AIR_TEMPERATURE}) {
        int degrees = temperature_table[which == WATER_TEMPERATURE ? a[2] : a[3]];
        uint16_t colour = degrees > 125 ? COLOUR_RED : degrees > 105 ? COLOUR_YELLOW : COLOUR_GREEN;
        shown[which] = {std::to_string(degrees), colour};
    }
    shown[THROTTLE] = {std::to_string(a[4] * 960 / 2304), COLOUR_GREEN};
    int flow = a[5] * 16 < 510 ? a[6] * 2 / 10 : a[5] * 16 / 10;
    shown[AIR_FLOW] = {std::to_string(flow), COLOUR_GREEN};
    shown[IGNITION_ADVANCE] = {std::to_string((7800 - a[7] * 75) / 100), COLOUR_GREEN};
    int injection_tenths = a[8] * 384 < 1000 ? (a[9] * 20 + 255) / 510 : (a[8] * 384 + 50) / 100;
    shown[INJECTION_TIME] = {fixed_point(injection_tenths, 1), COLOUR_GREEN};
    int battery = b[0] * 705; // in units of 0.0001 V
    uint16_t battery_colour = battery < 120000 || battery > 145000   ? COLOUR_RED
                              : battery < 130000 || battery > 140000 ? COLOUR_YELLOW
                                                                     : COLOUR_GREEN;
    shown[BATTERY] = {fixed_point((battery + 500) / 1000, 1), battery_colour};
    shown[ROAD_SPEED] = {std::to_string(b[1]), COLOUR_GREEN};
    shown[LAMBDA] = {fixed_point((b[4] * 250 + 255) / 510, 2), COLOUR_GREEN};
    shown[LAMBDA_INTEGRATOR] = {std::to_string((b[6] - 128) * 8 / 10), COLOUR_GREEN};
    return shown;
}

class live_data_test : public services_test {
  protected:
    void SetUp() override {
        services_test::SetUp();
        ecu.use_model = true;
    }

    // One poll with the ECU's RAM holding these bytes by address, 0 elsewhere.
    void poll(std::initializer_list<std::pair<const int, uint8_t>> ram) {
        ecu.ram = ram;
        poll_live_data();
    }

    void poll_windows(const uint8_t a[10], const uint8_t b[7]) {
        ecu.ram.clear();
        for (int i = 0; i < 10; i++) {
            ecu.ram[WINDOW_A + i] = a[i];
        }
        for (int i = 0; i < 7; i++) {
            ecu.ram[WINDOW_B + i] = b[i];
        }
        poll_live_data();
    }

    // The reading's label from its column, its number at column 16 of it, its unit and
    // trailing spaces, all in the colour.
    void expect_reading(reading which, const std::string& number, uint16_t colour) {
        const reading_place& place = PLACES[which];
        std::string text = padded(place.label, 16) + number + place.unit;
        SCOPED_TRACE(place.label);
        EXPECT_EQ(fake_screen_text(place.column, place.row, int(text.size())), text);
        for (int column = place.column; column < place.column + int(text.size()); column++) {
            ASSERT_EQ(fake_screen_attribute(column, place.row), colour) << "column " << column;
        }
    }
};

struct reading_case {
    uint8_t coarse; // the reading's byte, or its coarse byte
    uint8_t fine;
    const char* number;
    uint16_t colour;
};

TEST_F(live_data_test, EngineSpeedShowsTheFineByteBelow2500RpmAndIsColouredByItsLimits) {
    const reading_case cases[] = {
        {62, 0, "0", COLOUR_RED},        {62, 49, "490", COLOUR_RED},
        {62, 50, "500", COLOUR_YELLOW},  {62, 79, "790", COLOUR_YELLOW},
        {62, 80, "800", COLOUR_GREEN},   {62, 255, "2550", COLOUR_GREEN},
        {63, 0, "2520", COLOUR_GREEN},   {63, 255, "2520", COLOUR_GREEN},
        {150, 7, "6000", COLOUR_GREEN},  {151, 0, "6040", COLOUR_YELLOW},
        {162, 0, "6480", COLOUR_YELLOW}, {163, 0, "6520", COLOUR_RED},
        {255, 0, "10200", COLOUR_RED},
    };
    for (const reading_case& c : cases) {
        SCOPED_TRACE(testing::Message() << "a0 " << int(c.coarse) << " a1 " << int(c.fine));
        poll({{WINDOW_A + 0, c.coarse}, {WINDOW_A + 1, c.fine}});
        expect_reading(ENGINE_SPEED, c.number, c.colour);
    }
}

TEST_F(live_data_test, TemperaturesComeFromTheTableAndTurnYellowAbove105) {
    const reading_case cases[] = {
        {0, 0, "-33", COLOUR_GREEN},    {214, 0, "105", COLOUR_GREEN},
        {215, 0, "106", COLOUR_YELLOW}, {234, 0, "117", COLOUR_YELLOW},
        {235, 0, "124", COLOUR_YELLOW}, {244, 0, "125", COLOUR_YELLOW},
        {255, 0, "125", COLOUR_YELLOW},
    };
    for (const reading_case& c : cases) {
        SCOPED_TRACE(testing::Message() << "raw " << int(c.coarse));
        poll({{WINDOW_A + 2, c.coarse}, {WINDOW_A + 3, c.coarse}});
        expect_reading(WATER_TEMPERATURE, c.number, c.colour);
        expect_reading(AIR_TEMPERATURE, c.number, c.colour);
    }
}

TEST_F(live_data_test, TemperatureTableRisesFromMinus33To125WithOneStepOf7) {
    EXPECT_EQ(temperature_table[0], -33);
    for (int raw = 1; raw < 256; raw++) {
        EXPECT_LE(temperature_table[raw - 1], temperature_table[raw]) << "raw " << raw;
        int step = temperature_table[raw] - temperature_table[raw - 1];
        EXPECT_LE(step, raw == 235 ? 7 : 1) << "raw " << raw;
    }
    EXPECT_EQ(temperature_table[234], 117);
    EXPECT_EQ(temperature_table[235], 124);
    EXPECT_EQ(temperature_table[243], 124);
    for (int raw = 244; raw < 256; raw++) {
        EXPECT_EQ(temperature_table[raw], 125) << "raw " << raw;
    }
}

TEST_F(live_data_test, ThrottleAirFlowAndAdvanceTruncateTowardZero) {
    struct case_ {
        reading which;
        int coarse_address;
        uint8_t coarse;
        uint8_t fine;
        const char* number;
    };
    const case_ cases[] = {
        {THROTTLE, WINDOW_A + 4, 2, 0, "0"},
        {THROTTLE, WINDOW_A + 4, 3, 0, "1"},
        {THROTTLE, WINDOW_A + 4, 12, 0, "5"},
        {THROTTLE, WINDOW_A + 4, 255, 0, "106"},
        {AIR_FLOW, WINDOW_A + 5, 31, 4, "0"}, // coarse 49.6: the fine byte
        {AIR_FLOW, WINDOW_A + 5, 31, 5, "1"},
        {AIR_FLOW, WINDOW_A + 5, 31, 255, "51"},
        {AIR_FLOW, WINDOW_A + 5, 32, 255, "51"}, // coarse 51.2
        {AIR_FLOW, WINDOW_A + 5, 255, 0, "408"},
        {IGNITION_ADVANCE, WINDOW_A + 7, 0, 0, "78"},
        {IGNITION_ADVANCE, WINDOW_A + 7, 104, 0, "0"},
        {IGNITION_ADVANCE, WINDOW_A + 7, 105, 0, "0"},  // -0.75
        {IGNITION_ADVANCE, WINDOW_A + 7, 106, 0, "-1"}, // -1.5
        {IGNITION_ADVANCE, WINDOW_A + 7, 255, 0, "-113"},
    };
    for (const case_& c : cases) {
        SCOPED_TRACE(testing::Message() << "raw " << int(c.coarse) << " fine " << int(c.fine));
        poll({{c.coarse_address, c.coarse}, {c.coarse_address + 1, c.fine}});
        expect_reading(c.which, c.number, COLOUR_GREEN);
    }
}

TEST_F(live_data_test, InjectionTimeShowsTheFineByteBelow1Ms) {
    const reading_case cases[] = {
        {2, 12, "0.0", COLOUR_GREEN}, // coarse 0.768: the fine byte
        {2, 13, "0.1", COLOUR_GREEN},   {2, 255, "1.0", COLOUR_GREEN},
        {3, 255, "1.2", COLOUR_GREEN}, // 1.152
        {255, 0, "97.9", COLOUR_GREEN},
    };
    for (const reading_case& c : cases) {
        SCOPED_TRACE(testing::Message() << "a8 " << int(c.coarse) << " a9 " << int(c.fine));
        poll({{WINDOW_A + 8, c.coarse}, {WINDOW_A + 9, c.fine}});
        expect_reading(INJECTION_TIME, c.number, c.colour);
    }
}

TEST_F(live_data_test, BatteryIsWorkedOutInSinglePrecisionAndColouredByItsLimits) {
    const reading_case cases[] = {
        {100, 0, "7.1", COLOUR_RED}, // exactly 7.05; single precision lies just above it
        {170, 0, "12.0", COLOUR_RED},    {171, 0, "12.1", COLOUR_YELLOW},
        {184, 0, "13.0", COLOUR_YELLOW}, {185, 0, "13.0", COLOUR_GREEN},
        {198, 0, "14.0", COLOUR_GREEN},  {199, 0, "14.0", COLOUR_YELLOW},
        {205, 0, "14.5", COLOUR_YELLOW}, {206, 0, "14.5", COLOUR_RED},
        {255, 0, "18.0", COLOUR_RED},
    };
    for (const reading_case& c : cases) {
        SCOPED_TRACE(testing::Message() << "b0 " << int(c.coarse));
        poll({{WINDOW_B + 0, c.coarse}});
        expect_reading(BATTERY, c.number, c.colour);
    }
}

TEST_F(live_data_test, RoadSpeedLambdaAndIntegrator) {
    struct case_ {
        reading which;
        int address;
        uint8_t raw;
        const char* number;
    };
    const case_ cases[] = {
        {ROAD_SPEED, WINDOW_B + 1, 255, "255"},
        {LAMBDA, WINDOW_B + 4, 0, "0.00"},
        {LAMBDA, WINDOW_B + 4, 2, "0.01"},
        {LAMBDA, WINDOW_B + 4, 204, "1.00"},
        {LAMBDA, WINDOW_B + 4, 255, "1.25"},
        {LAMBDA_INTEGRATOR, WINDOW_B + 6, 0, "-102"},
        {LAMBDA_INTEGRATOR, WINDOW_B + 6, 126, "-1"},
        {LAMBDA_INTEGRATOR, WINDOW_B + 6, 127, "0"}, // -0.8
        {LAMBDA_INTEGRATOR, WINDOW_B + 6, 128, "0"},
        {LAMBDA_INTEGRATOR, WINDOW_B + 6, 129, "0"},
        {LAMBDA_INTEGRATOR, WINDOW_B + 6, 130, "1"},
        {LAMBDA_INTEGRATOR, WINDOW_B + 6, 255, "101"},
    };
    for (const case_& c : cases) {
        SCOPED_TRACE(testing::Message() << "raw " << int(c.raw));
        poll({{c.address, c.raw}});
        expect_reading(c.which, c.number, COLOUR_GREEN);
    }
}

TEST_F(live_data_test, EveryRawByteGivesTheTextAndColourOfExactDecimalArithmetic) {
    // First every byte at the raw value (every coarse value), then the coarse bytes at 0 so
    // that every fine value is shown.
    for (bool coarse_zero : {false, true}) {
        for (int raw = 0; raw < 256; raw++) {
            SCOPED_TRACE(testing::Message() << "raw " << raw << " coarse zero " << coarse_zero);
            uint8_t a[10], b[7];
            memset(a, raw, sizeof a);
            memset(b, raw, sizeof b);
            if (coarse_zero) {
                a[0] = a[5] = a[8] = 0;
            }
            poll_windows(a, b);
            std::vector<shown_reading> shown = exact_readings(a, b);
            for (int which = 0; which < 11; which++) {
                expect_reading(reading(which), shown[which].number, shown[which].colour);
            }
            if (HasFailure()) {
                return;
            }
        }
    }
}

TEST_F(live_data_test, AsksForBothWindowsWithTheCounterOfEachReply) {
    poll({});
    ASSERT_EQ(ecu.frames_received.size(), 2u);
    // The ECU answers counter n with n + 1, so the second request carries 2.
    EXPECT_EQ(ecu.frames_received[0], make_frame(0x00, TITLE_READ_RAM, {10, 0x20, 0x00}));
    EXPECT_EQ(ecu.frames_received[1], make_frame(0x02, TITLE_READ_RAM, {7, 0x20, 0x10}));
    EXPECT_EQ(frame_counter, 4);
    EXPECT_TRUE(fake_line.incoming.empty());
}

TEST_F(live_data_test, AShorterValueBlanksTheCellsOfALongerOne) {
    fake_screen_fill('#', 7);
    // The longest text of each reading, then the shortest.
    const uint8_t longest_a[10] = {255, 0, 0, 0, 255, 255, 0, 255, 255, 0};
    const uint8_t longest_b[7] = {255, 255, 0, 0, 255, 0, 0};
    const uint8_t shortest_a[10] = {0, 0, 51, 51, 0, 0, 0, 104, 0, 0};
    const uint8_t shortest_b[7] = {0, 0, 0, 0, 0, 0, 128};
    poll_windows(longest_a, longest_b);
    std::vector<shown_reading> longest = exact_readings(longest_a, longest_b);
    poll_windows(shortest_a, shortest_b);
    std::vector<shown_reading> shortest = exact_readings(shortest_a, shortest_b);
    for (int which = 0; which < 11; which++) {
        const reading_place& place = PLACES[which];
        SCOPED_TRACE(place.label);
        std::string longer = padded(place.label, 16) + longest[which].number + place.unit;
        std::string shorter = padded(place.label, 16) + shortest[which].number + place.unit;
        ASSERT_LT(shorter.size(), longer.size() + (which == LAMBDA ? 1 : 0));
        EXPECT_EQ(fake_screen_text(place.column, place.row, int(longer.size())),
                  padded(shorter, longer.size()));
    }
}

TEST_F(live_data_test, WindowBBytes2_3And5ChangeNothing) {
    const uint8_t a[10] = {100, 0, 150, 120, 40, 60, 0, 50, 10, 0};
    uint8_t b[7] = {190, 88, 0, 0, 110, 0, 140};
    poll_windows(a, b);
    std::vector<std::string> before;
    for (int row = 5; row <= 10; row++) {
        before.push_back(fake_screen_row(row));
    }
    b[2] = b[3] = b[5] = 255;
    poll_windows(a, b);
    for (int row = 5; row <= 10; row++) {
        EXPECT_EQ(fake_screen_row(row), before[size_t(row - 5)]) << "row " << row;
    }
}

TEST_F(live_data_test, NoReplyShowsTheReadingsOfZeroBytesNotThoseOfTheLastPoll) {
    const uint8_t a[10] = {100, 0, 150, 120, 40, 60, 0, 50, 10, 0};
    const uint8_t b[7] = {190, 88, 0, 0, 110, 0, 140};
    poll_windows(a, b);
    ecu.use_model = false; // answers the requests' bytes, sends no reply
    poll_live_data();
    EXPECT_EQ(fake_screen.output.find("Error"), std::string::npos);
    expect_reading(ENGINE_SPEED, "0", COLOUR_RED);
    expect_reading(WATER_TEMPERATURE, "-33", COLOUR_GREEN);
    expect_reading(AIR_TEMPERATURE, "-33", COLOUR_GREEN);
    expect_reading(THROTTLE, "0", COLOUR_GREEN);
    expect_reading(AIR_FLOW, "0", COLOUR_GREEN);
    expect_reading(IGNITION_ADVANCE, "78", COLOUR_GREEN);
    expect_reading(INJECTION_TIME, "0.0", COLOUR_GREEN);
    expect_reading(BATTERY, "0.0", COLOUR_RED);
    expect_reading(ROAD_SPEED, "0", COLOUR_GREEN);
    expect_reading(LAMBDA, "0.00", COLOUR_GREEN);
    expect_reading(LAMBDA_INTEGRATOR, "-102", COLOUR_GREEN);
}

TEST_F(live_data_test, AShortReplyLeavesItsEndByteAfterItsDataAndZerosBeyond) {
    ecu.use_model = false;
    ecu.replies = {make_frame(0x01, 0xFE, {62, 80}), make_frame(0x03, 0xFE, {})};
    poll_live_data();
    const uint8_t expected_a[10] = {62, 80, FRAME_END, 0, 0, 0, 0, 0, 0, 0};
    const uint8_t expected_b[7] = {FRAME_END, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(memcmp(live_data_a, expected_a, sizeof expected_a), 0);
    EXPECT_EQ(memcmp(live_data_b, expected_b, sizeof expected_b), 0);
    expect_reading(ENGINE_SPEED, "800", COLOUR_GREEN);
    expect_reading(WATER_TEMPERATURE, "-31", COLOUR_GREEN);
}

TEST_F(live_data_test, AFailedRequestIsReportedAtTheCursorAfterTheSpinnerAndThePollGoesOn) {
    struct case_ {
        std::map<std::pair<int, int>, int> faults; // by frame and byte of the tool's
        int messages;
    };
    const case_ cases[] = {
        {{{{0, 2}, 0x00}}, 1},               // window A's title answered wrongly
        {{{{1, 4}, -1}}, 1},                 // window B's address byte not answered
        {{{{0, 0}, 0x00}, {{1, 2}, -1}}, 2}, // both
    };
    for (const case_& c : cases) {
        SetUp();
        ecu.use_model = true;
        ecu.answer_faults = c.faults;
        ecu.ram = {{WINDOW_A, 100}, {WINDOW_B, 190}};
        print_at(console_handle, "|", 16, 3, COLOUR_YELLOW); // the spinner step
        poll_live_data();
        const std::string message = "Error in ram address frame tx";
        EXPECT_EQ(fake_screen_text(17, 3, int(message.size())), message);
        EXPECT_EQ(fake_screen_attribute(17, 3), COLOUR_YELLOW);
        if (c.messages == 2) {
            EXPECT_EQ(fake_screen_text(0, 4, int(message.size())), message);
            EXPECT_EQ(fake_screen_attribute(0, 4), COLOUR_YELLOW);
        } else {
            EXPECT_EQ(fake_screen_row(4), std::string(80, ' '));
        }
        std::string printed = "|"; // the spinner, then each message with its newline
        for (int i = 0; i < c.messages; i++) {
            printed += message + "\n";
        }
        EXPECT_EQ(fake_screen.output.substr(0, printed.size()), printed);
        expect_reading(ENGINE_SPEED, "4000", COLOUR_GREEN);
        expect_reading(BATTERY, "13.4", COLOUR_GREEN);
    }
}

} // namespace
