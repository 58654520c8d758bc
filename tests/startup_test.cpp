#include "control/console.h"
#include "control/quelmar.h"
#include "link/frame.h"
#include "link/serial_port.h"
#include "platform/clock.h"
#include "tests/fakes/fakes.h"
#include "tests/support/fake_ecu.h"
#include "tests/support/program_start.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <gtest/gtest.h>
#include <string>
#include <vector>

// A whole run of the program over the fakes, against a running ECU.
class startup_test : public ::testing::Test {
  protected:
    fake_ecu ecu;

    void SetUp() override {
        reset_to_program_start();
        ecu = fake_ecu{};
        ecu.use_model = true;
        ecu.attach();
    }

    int run(std::vector<std::string> arguments) {
        std::vector<char*> argv;
        static char program[] = "quelmar";
        argv.push_back(program);
        for (std::string& argument : arguments) {
            argv.push_back(argument.data());
        }
        argv.push_back(nullptr);
        return quelmar_main(int(argv.size() - 1), argv.data());
    }

    // Polls made: spinner glyphs drawn.
    std::string spinner_trace() const {
        std::string glyphs;
        for (const screen_write& write : fake_screen.writes) {
            if (write.column == 16 && write.row == 3) {
                glyphs += write.text;
            }
        }
        return glyphs;
    }
};

TEST_F(startup_test, without_an_argument_the_usage_lines_stay_and_the_banner_goes) {
    fake_keys_push_text("q");

    EXPECT_EQ(run({}), 0);

    EXPECT_EQ(fake_line.opened_name, "\\\\.\\com1");
    EXPECT_EQ(fake_screen_row(0), "Usage: quelmar [com_number]" + std::string(53, ' '));
    EXPECT_EQ(fake_screen_row(1),
              "You didn't specify the com port, so assuming com1" + std::string(31, ' '));
    EXPECT_EQ(fake_screen_row(2), std::string(80, ' '));
    EXPECT_EQ(fake_screen_row(3), "Hit 'q' to quit" + std::string(65, ' '));
    // The blanking leaves the attempt message's tail from column 38; the wake-up's text above
    // it was erased.
    EXPECT_EQ(fake_screen_row(4), std::string(38, ' ') + "\\com1'..." + std::string(33, ' '));
    EXPECT_EQ(fake_screen_text(0, 5, 66), std::string(66, ' '));
    EXPECT_EQ(fake_screen_attribute(0, 0), COLOUR_WHITE);
    EXPECT_EQ(fake_screen_attribute(0, 3), COLOUR_YELLOW);
}

TEST_F(startup_test, with_arguments_the_banner_stays_and_only_the_first_names_the_port) {
    const std::vector<std::vector<std::string>> cases = {{"3"}, {"3", "7", "extra"}};
    for (const auto& arguments : cases) {
        SetUp();
        fake_keys_push_text("q");

        EXPECT_EQ(run(arguments), 0);

        EXPECT_EQ(fake_line.opened_name, "\\\\.\\com3");
        EXPECT_EQ(fake_screen_text(0, 0, 30), "Quelmar console version 1.01b ");
        EXPECT_EQ(fake_screen_text(0, 1, 10), "Written by");
        EXPECT_EQ(fake_screen_row(2), std::string(80, ' '));
        EXPECT_EQ(fake_screen_row(4), std::string(80, ' '));
        EXPECT_EQ(fake_screen.output.find("Usage"), std::string::npos);
    }
}

TEST_F(startup_test, start_up_opens_at_4800_waits_2000_ms_then_wakes_and_identifies) {
    fake_keys_push_text("q");

    run({"1"});

    std::vector<line_event> formats = fake_line_events(line_event_kind::set_format);
    ASSERT_EQ(formats.size(), 1u);
    EXPECT_EQ(formats[0].value, 4800u);
    EXPECT_EQ(fake_line_events(line_event_kind::set_timeout)[0].value, 2000u);
    EXPECT_EQ(fake_line_events(line_event_kind::break_off)[0].at_us, 2000 * 1000);
    EXPECT_EQ(fake_screen_text(0, 21, 29), "ECU ID: 55-01-8A-10-20-30*** ");
    EXPECT_EQ(ecu.ram_reads, 0) << "q typed during the start-up ends the run before any poll";
    EXPECT_TRUE(ecu.problems.empty());
}

TEST_F(startup_test, shutdown_closes_the_port_and_says_goodbye_on_row_22) {
    fake_keys_push_text("q");

    EXPECT_EQ(run({"1"}), 0);

    EXPECT_EQ(fake_line_events(line_event_kind::close).size(), 1u);
    EXPECT_EQ(fake_screen_text(0, 22, 7), "Bye... ");
    EXPECT_EQ(fake_screen_attribute(0, 22), COLOUR_WHITE);
    EXPECT_EQ(fake_screen.column, 0);
    EXPECT_EQ(fake_screen.row, 23);
    EXPECT_TRUE(fake_screen.closed);
}

// The screen rows and line events a run that ends with status 1 must leave. The child checks
// them itself at exit and says "checked" on stderr, or what differed.
struct exit_1_expectation {
    std::vector<std::string> rows; // rows 2 onwards, without trailing blanks
};

static exit_1_expectation expected_at_exit;

static std::string trimmed(std::string text) {
    text.erase(text.find_last_not_of(' ') + 1);
    return text;
}

static void check_at_exit() {
    std::string differences;
    for (size_t i = 0; i < expected_at_exit.rows.size(); i++) {
        std::string shown = trimmed(fake_screen_row(int(2 + i)));
        if (shown != expected_at_exit.rows[i]) {
            differences += "row " + std::to_string(2 + i) + " shows [" + shown + "]; ";
        }
    }
    if (clock_now_us() != 0) {
        differences += "it waited; ";
    }
    if (!fake_line_events(line_event_kind::open).empty() ||
        !fake_line_events(line_event_kind::break_on).empty()) {
        differences += "it used the port; ";
    }
    fprintf(stderr, "%s\n", differences.empty() ? "checked" : differences.c_str());
}

// Runs the program in a child that must end with status 1.
static void run_expecting_exit_1(std::vector<std::string> arguments,
                                 std::vector<std::string> rows) {
    reset_to_program_start();
    fake_line.open_fails = true;
    expected_at_exit.rows = rows;
    atexit(check_at_exit);
    std::vector<char*> argv = {const_cast<char*>("quelmar")};
    for (std::string& argument : arguments) {
        argv.push_back(argument.data());
    }
    argv.push_back(nullptr);
    quelmar_main(int(argv.size() - 1), argv.data());
}

TEST(startup_death_test, a_port_that_cannot_be_opened_ends_the_run_with_status_1) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(run_expecting_exit_1({"7"}, {"Attempting to open the comms port '\\\\.\\com7'...",
                                             "Unable to open serial port; quiting.", ""}),
                ::testing::ExitedWithCode(1), "checked");
}

TEST(startup_death_test, a_port_argument_longer_than_the_buffer_is_refused) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(run_expecting_exit_1(
                    {std::string(121, '9')},
                    {"The com port argument is longer than 120 characters; quitting.", ""}),
                ::testing::ExitedWithCode(1), "checked");
}

TEST_F(startup_test, a_port_argument_of_120_characters_still_fits) {
    fake_keys_push_text("q");

    run({std::string(120, '9')});

    EXPECT_EQ(fake_line.opened_name, "\\\\.\\com" + std::string(120, '9'));
}

TEST_F(startup_test, keys_end_their_pass_and_q_quits_only_on_a_pass_without_a_key) {
    const struct {
        const char* name;
        std::vector<std::pair<int, std::vector<int>>> keys; // pass, codes
        const char* spinner;                                // the polls made
    } cases[] = {
        {"q at the third pass", {{3, {'q'}}}, "\\|"},
        {"Q acts the same", {{3, {'Q'}}}, "\\|"},
        {"another key after q cancels it", {{3, {'q', 'x'}}, {8, {'q'}}}, "\\|/-\\"},
        {"any other key only ends its pass", {{2, {'a'}}, {4, {'q'}}}, "\\|"},
        {"a waiting key at every pass stops the polls",
         {{1, {'a'}}, {2, {'b'}}, {3, {'c'}}, {5, {'q'}}},
         "\\"},
        {"D ends its pass like any key", {{2, {'D'}}, {4, {'q'}}}, "\\|"},
    };
    for (const auto& c : cases) {
        SetUp();
        for (const auto& [pass, codes] : c.keys) {
            for (int code : codes) {
                fake_keys_at_pass(pass, {code});
            }
        }

        EXPECT_EQ(run({"1"}), 0) << c.name;

        EXPECT_EQ(spinner_trace(), c.spinner) << c.name;
        EXPECT_EQ(ecu.ram_reads, 2 * int(strlen(c.spinner))) << c.name;
    }
}

TEST_F(startup_test, spinner_turns_backslash_bar_slash_dash_in_yellow) {
    fake_keys_at_pass(6, {'q'});

    run({"1"});

    EXPECT_EQ(spinner_trace(), "\\|/-\\");
    EXPECT_EQ(fake_screen_attribute(16, 3), COLOUR_YELLOW);
}

TEST_F(startup_test, error_memory_is_read_after_every_20th_poll_and_key_passes_do_not_count) {
    std::vector<int> ram_reads_at_collection;
    ecu.on_frame = [&](const bytes& frame) {
        if (frame[2] == TITLE_READ_ERRORS) {
            ram_reads_at_collection.push_back(ecu.ram_reads);
        }
    };
    fake_keys_at_pass(5, {'x'});
    fake_keys_at_pass(30, {'y'});
    fake_keys_at_pass(47, {'q'}); // 44 polls and 2 key passes before it

    run({"1"});

    EXPECT_EQ(ram_reads_at_collection, (std::vector<int>{40, 80}));
    EXPECT_EQ(ecu.ram_reads, 2 * 44);
}

TEST_F(startup_test, D_sends_the_clear_request_in_its_own_pass) {
    ecu.errors = {{1, 0, 0, 0, 5}};
    fake_keys_at_pass(3, {'D'});
    fake_keys_at_pass(4, {'d'});
    fake_keys_at_pass(6, {'q'});

    run({"1"});

    EXPECT_EQ(ecu.clears, 2);
    EXPECT_EQ(spinner_trace(), "\\|/") << "the clear passes neither poll nor turn the spinner";
    EXPECT_TRUE(ecu.problems.empty());
}
