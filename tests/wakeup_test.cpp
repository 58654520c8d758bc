#include "control/console.h"
#include "control/quelmar.h"
#include "link/wakeup.h"
#include "tests/support/link_fixture.h"

#include <cstdio>

class wakeup_test : public link_fixture {
  protected:
    void SetUp() override {
        link_fixture::SetUp();
        open_console();
        print_at(console_handle, "", 0, 4, COLOUR_BLUE);
        snprintf(tmp, sizeof tmp, "%s", "\\\\.\\com1");
    }
};

TEST_F(wakeup_test, address_goes_out_on_the_200_ms_grid_then_both_directions_are_purged) {
    int64_t start = clock_now_us();
    five_baud_init(port_handle);

    // Idle for two periods, start bit and bits 0 to 3 low, bit 4 high, bits 5 to 7 low, stop.
    const struct {
        line_event_kind kind;
        int period;
    } expected[] = {
        {line_event_kind::break_off, 0},  {line_event_kind::break_on, 2},
        {line_event_kind::break_off, 7},  {line_event_kind::break_on, 8},
        {line_event_kind::break_off, 11}, {line_event_kind::purge, 11},
    };
    ASSERT_EQ(fake_line.events.size(), std::size(expected));
    for (size_t i = 0; i < std::size(expected); i++) {
        EXPECT_EQ(fake_line.events[i].kind, expected[i].kind) << i;
        EXPECT_EQ(fake_line.events[i].at_us - start, expected[i].period * 200000) << i;
    }
}

TEST_F(wakeup_test, progress_digits_come_one_per_period_on_row_4) {
    five_baud_init(port_handle);

    EXPECT_EQ(fake_screen_text(0, 4, 32), "Initialising comms: 11000001000 ");
    EXPECT_EQ(fake_screen_attribute(0, 4), COLOUR_BLUE);
    std::string digits;
    for (const screen_write& write : fake_screen.writes) {
        if (write.row == 4 && write.text.size() == 1) {
            digits += write.text;
            int period = int(digits.size());
            EXPECT_EQ(write.at_us, period * 200000) << "digit " << period;
        }
    }
    EXPECT_EQ(digits, "11000001000");
}

TEST_F(wakeup_test, ecu_id_is_shown_and_its_third_byte_answered_with_the_complement) {
    fake_ecu ecu;
    ecu.wake_answer = {0x55, 0x01, 0x8A, 0xF0, 0x0B, 0xC3};
    ecu.attach();
    five_baud_init(port_handle);

    read_ecu_id();

    EXPECT_EQ(fake_screen_text(0, 4, 33), std::string(32, ' ') + ' ');
    EXPECT_EQ(fake_screen_text(0, 21, 26), "ECU ID: 55-01-8A-F0-0B-C3 ");
    EXPECT_EQ(fake_screen_attribute(0, 21), COLOUR_GREEN);
    EXPECT_EQ(fake_screen_attribute(24, 21), COLOUR_GREEN);
    EXPECT_EQ(ecu.wake_complements, bytes{0x75});
    EXPECT_TRUE(ecu.problems.empty());
    EXPECT_TRUE(fake_line.incoming.empty()) << "the echo of the complement was read";
}

TEST_F(wakeup_test, places_the_answer_does_not_fill_show_zero_not_the_port_name) {
    const struct {
        bytes answer;
        const char* shown;
        uint8_t complement;
    } cases[] = {
        {{0x55, 0x01, 0x8A}, "55-01-8A-00-00-00", 0x75},
        {{0x55}, "55-00-00-00-00-00", 0xFF},
        {{}, "00-00-00-00-00-00", 0xFF},
    };
    for (const auto& c : cases) {
        SetUp();
        five_baud_init(port_handle);
        fake_line.written.clear();
        for (uint8_t byte : c.answer) {
            fake_line_queue_byte(byte);
        }

        read_ecu_id();

        EXPECT_EQ(fake_screen_text(8, 21, 17), c.shown);
        EXPECT_EQ(fake_line.written, bytes{c.complement}) << c.shown;
    }
}

TEST_F(wakeup_test, identification_frames_are_acknowledged_until_30_data_bytes_then_one_more) {
    fake_ecu ecu;
    ecu.use_model = true;
    ecu.id_frames = {bytes(10, 'A'), bytes(10, 'B'), bytes(10, 'C')};
    ecu.attach();
    five_baud_init(port_handle);
    read_ecu_id();

    read_id_frames();

    ASSERT_EQ(ecu.frames_received.size(), 3u);
    for (const bytes& frame : ecu.frames_received) {
        EXPECT_EQ(frame[2], TITLE_ACK);
    }
    EXPECT_EQ(fake_screen_text(25, 21, 4), "*** ");
    // The fourth frame, the ECU's own acknowledge, was taken and not answered.
    EXPECT_EQ(frame_buffer[2], TITLE_ACK);
    EXPECT_EQ(frame_counter, ecu.frames_received[2][1] + 2);
    EXPECT_TRUE(ecu.problems.empty());
}

TEST_F(wakeup_test, frame_without_data_adds_nothing_to_the_total) {
    fake_ecu ecu;
    ecu.use_model = true;
    ecu.id_frames = {bytes(10, 'A'), bytes{}, bytes(10, 'B'), bytes(10, 'C')};
    ecu.attach();
    five_baud_init(port_handle);
    read_ecu_id();

    read_id_frames();

    EXPECT_EQ(ecu.frames_received.size(), 4u);
    EXPECT_EQ(fake_screen_text(25, 21, 5), "**** ");
}

TEST_F(wakeup_test, silent_ecu_costs_one_pass_whose_total_wraps) {
    read_ecu_id();
    fake_line.written.clear();

    read_id_frames();

    // One acknowledge frame, one star, then one more receive: the loop can start.
    EXPECT_EQ(fake_line.written, (bytes{0x03, 0x00, TITLE_ACK, 0x03}));
    EXPECT_EQ(fake_screen_text(25, 21, 2), "* ");
}

TEST_F(wakeup_test, endless_empty_identification_frames_cannot_hold_the_start_up) {
    fake_ecu ecu;
    ecu.use_model = true;
    ecu.id_frames.assign(1000, bytes{});
    ecu.attach();
    five_baud_init(port_handle);
    read_ecu_id();

    read_id_frames();

    EXPECT_EQ(int(ecu.frames_received.size()), ID_FRAMES_MAX);
    EXPECT_EQ(fake_screen_text(25, 21, ID_FRAMES_MAX + 1), std::string(ID_FRAMES_MAX, '*') + ' ');
}
