#include "sim_options.h"
#include "sim_pacing.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

sim_parse_result parse(std::vector<std::string> args, sim_options* o) {
    args.insert(args.begin(), "quelmar-sim");
    std::vector<char*> argv;
    for (std::string& a : args) {
        argv.push_back(&a[0]);
    }
    char error[256];
    return sim_parse_args((int)argv.size(), argv.data(), o, error, sizeof error);
}

TEST(sim_options, scenario_options_fill_the_config) {
    sim_options o;
    ASSERT_EQ(parse({"--faults", "1:0:5,0x2d:8:200", "--ram", "2000=3c,55", "--ram", "0x2014=ff",
                     "--fault", "broken-frame@3", "--fault", "endless-id", "--stop-after", "7",
                     "--baud", "4800", "--reply-delay", "0", "--link", "/tmp/ecu", "--keep"},
                    &o),
              PARSE_OK);
    ASSERT_EQ(o.config.memory_count, 2);
    EXPECT_EQ(o.config.memory[1].code, 0x2D);
    EXPECT_EQ(o.config.memory[1].status, 8);
    EXPECT_EQ(o.config.memory[1].value, 200);
    EXPECT_EQ(o.config.ram[0], 0x3C);
    EXPECT_EQ(o.config.ram[1], 0x55);
    EXPECT_TRUE(o.config.ram_frozen[1]);
    EXPECT_FALSE(o.config.ram_frozen[2]);
    EXPECT_EQ(o.config.ram[0x14], 0xFF);
    EXPECT_EQ(o.config.fault_poll[FAULT_BROKEN_FRAME], 3);
    EXPECT_EQ(o.config.fault_poll[FAULT_ENDLESS_ID], 1);
    EXPECT_EQ(o.config.fault_poll[FAULT_GARBAGE], 0);
    EXPECT_EQ(o.config.stop_after_polls, 7);
    EXPECT_EQ(o.baud, 4800);
    EXPECT_EQ(o.reply_delay_ms, 0);
    EXPECT_STREQ(o.link_path, "/tmp/ecu");
    EXPECT_TRUE(o.keep);
}

TEST(sim_options, bad_values_are_refused) {
    const std::vector<std::vector<std::string>> cases = {
        {"--faults", "1:0"},         {"--faults", "0:0:5"},
        {"--faults", "1:0:256"},     {"--faults", "1:0:5,"},
        {"--faults", "1:0:5:7"},     {"--ram", "1fff=00"},
        {"--ram", "20ff=00,01"},     {"--ram", "2000="},
        {"--ram", "2000=1g"},        {"--fault", "garbage@0"},
        {"--fault", "endless-id@2"}, {"--fault", "sparks"},
        {"--stop-after", "-1"},      {"--baud"},
        {"--unknown", "x"},          {"--reply-delay", "soon"},
    };
    for (const auto& c : cases) {
        sim_options o;
        EXPECT_EQ(parse(c, &o), PARSE_ERROR) << c[0] << " " << (c.size() > 1 ? c[1] : "");
    }
}

TEST(sim_pacing, paced_bytes_take_a_byte_time_and_unpaced_only_the_reply_delay) {
    sim_pacing paced = sim_make_pacing(4800, -1);
    EXPECT_EQ(sim_out_delay_us(&paced, OUT_ECHO), 2083);
    EXPECT_GT(sim_out_delay_us(&paced, OUT_COMPLEMENT), 2083);
    EXPECT_EQ(sim_out_delay_us(&paced, OUT_FRAME_FIRST), SIM_PACED_REPLY_DELAY_US + 2083);
    sim_pacing bench = sim_make_pacing(4800, 0);
    EXPECT_EQ(sim_out_delay_us(&bench, OUT_FRAME_FIRST), 2083);
    sim_pacing unpaced = sim_make_pacing(0, -1);
    for (int k = OUT_ECHO; k <= OUT_GARBAGE; k++) {
        EXPECT_EQ(sim_out_delay_us(&unpaced, (sim_out_kind)k), 0);
    }
    sim_pacing delayed = sim_make_pacing(0, 20);
    EXPECT_EQ(sim_out_delay_us(&delayed, OUT_FRAME_FIRST), 20000);
}

TEST(sim_pacing, without_the_ecus_delays_every_byte_takes_only_its_time_on_the_line) {
    sim_pacing line_only = sim_make_pacing(4800, 25, true);
    for (int k = OUT_ECHO; k <= OUT_GARBAGE; k++) {
        EXPECT_EQ(sim_out_delay_us(&line_only, (sim_out_kind)k), 2083) << k;
    }
    sim_options o;
    char error[128];
    char* argv[] = {(char*)"quelmar-sim", (char*)"--baud", (char*)"4800", (char*)"--no-delay"};
    ASSERT_EQ(sim_parse_args(4, argv, &o, error, sizeof error), PARSE_OK);
    EXPECT_TRUE(o.no_delay);
}

} // namespace
