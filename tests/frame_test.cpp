#include "tests/support/link_fixture.h"

#include <cstring>

class frame_test : public link_fixture {};

TEST_F(frame_test, read_ram_request_goes_out_byte_by_byte_with_echo_and_complement) {
    fake_ecu ecu;
    ecu.attach_awake();
    frame_counter = 0x42;
    frame_buffer[3] = 0x0A;
    frame_buffer[4] = 0x20;
    frame_buffer[5] = 0x00;

    EXPECT_EQ(send_frame(TITLE_READ_RAM, 3), 0);

    bytes frame = {0x06, 0x42, 0x01, 0x0A, 0x20, 0x00, 0x03};
    EXPECT_EQ(written(), frame);
    ASSERT_EQ(ecu.frames_received.size(), 1u);
    EXPECT_EQ(ecu.frames_received[0], frame);
    EXPECT_TRUE(ecu.problems.empty());
    // Each handshaked byte: write, its echo, the ECU's complement; the end byte: write, echo.
    std::vector<line_event> reads = fake_line_events(line_event_kind::read);
    ASSERT_EQ(reads.size(), 6u * 2 + 1);
    for (const line_event& read : reads) {
        EXPECT_EQ(read.value, 1u);
        EXPECT_EQ(read.got, 1u);
    }
    EXPECT_EQ(clock_now_us(), 0) << "no read waited for its time-out";
}

TEST_F(frame_test, reply_is_taken_with_every_byte_but_the_end_byte_answered) {
    bytes reply = make_frame(0x43, 0xFE, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10});
    ecu_sends(reply);

    EXPECT_EQ(receive_frame(), 0);

    EXPECT_EQ(bytes(frame_buffer, frame_buffer + reply.size()), reply);
    bytes answered(reply.begin(), reply.end() - 1);
    EXPECT_EQ(written(), complements_of(answered));
    EXPECT_EQ(frame_counter, 0x44);
    // The next request carries the reply's counter plus 1.
    fake_line.on_write = nullptr;
    send_frame(TITLE_ACK, 0);
    EXPECT_EQ(written()[answered.size() + 1], 0x44);
}

TEST_F(frame_test, frame_without_data_is_four_bytes_of_which_three_are_answered) {
    fake_ecu ecu;
    ecu.attach_awake();
    frame_counter = 7;

    for (uint8_t title : {TITLE_ACK, TITLE_READ_ERRORS, TITLE_CLEAR_ERRORS}) {
        fake_line.written.clear();
        fake_line.events.clear();
        EXPECT_EQ(send_frame(title, 0), 0);
        EXPECT_EQ(written(), (bytes{0x03, 0x07, title, 0x03}));
        EXPECT_EQ(fake_line_events(line_event_kind::read).size(), 3u * 2 + 1);
    }
}

struct send_fault_case {
    const char* name;
    std::map<std::pair<int, int>, int> faults; // (frame, byte index) -> answer, -1 none
    int expected;
};

TEST_F(frame_test, first_failing_byte_gives_the_result_and_the_frame_still_goes_out) {
    const send_fault_case cases[] = {
        {"wrong complement on the title", {{{0, 2}, 0x00}}, 2},
        {"no answer to a data byte", {{{0, 4}, -1}}, 1},
        {"wrong on the length, none on a later byte", {{{0, 0}, 0x55}, {{0, 3}, -1}}, 2},
        {"none on the counter, wrong on a later byte", {{{0, 1}, -1}, {{0, 5}, 0x00}}, 1},
    };
    for (const send_fault_case& c : cases) {
        SetUp();
        fake_ecu ecu;
        ecu.answer_faults = c.faults;
        ecu.attach_awake();
        frame_buffer[3] = 0x0A;
        frame_buffer[4] = 0x20;
        frame_buffer[5] = 0x10;

        EXPECT_EQ(send_frame(TITLE_READ_RAM, 3), c.expected) << c.name;
        EXPECT_EQ(written(), (bytes{0x06, 0x00, 0x01, 0x0A, 0x20, 0x10, 0x03})) << c.name;
    }
}

TEST_F(frame_test, silence_gives_minus_one_after_one_time_out_with_buffer_clear) {
    memset(frame_buffer, 0xAA, sizeof frame_buffer);
    frame_counter = 9;

    EXPECT_EQ(receive_frame(), -1);

    EXPECT_EQ(bytes(frame_buffer, frame_buffer + 16), bytes(16, 0));
    EXPECT_EQ(frame_counter, 9);
    EXPECT_EQ(clock_now_us(), 2000 * 1000);
    EXPECT_TRUE(written().empty());
}

TEST_F(frame_test, reply_broken_off_keeps_what_came_and_leaves_the_counter) {
    frame_counter = 9;
    ecu_sends({0x0D, 0x20, 0xFE, 0x11, 0x22});

    EXPECT_EQ(receive_frame(), -1);

    bytes expected(16, 0);
    expected[0] = 0x0D;
    expected[1] = 0x20;
    expected[2] = 0xFE;
    expected[3] = 0x11;
    expected[4] = 0x22;
    EXPECT_EQ(bytes(frame_buffer, frame_buffer + 16), expected);
    EXPECT_EQ(frame_counter, 9);
    EXPECT_EQ(clock_now_us(), 2000 * 1000) << "one time-out, no wait for an end byte";
}

TEST_F(frame_test, reply_without_end_byte_gives_one_and_sets_the_counter) {
    ecu_sends({0x04, 0x10, 0xFE, 0x55});

    EXPECT_EQ(receive_frame(), 1);

    EXPECT_EQ(frame_counter, 0x11);
    EXPECT_EQ(frame_buffer[3], 0x55);
    EXPECT_EQ(frame_buffer[4], 0x00);
}

TEST_F(frame_test, counter_wraps_through_the_signed_byte_to_the_next_low_byte) {
    const struct {
        uint8_t received;
        int32_t counter;
        uint8_t sent_next;
    } cases[] = {{0x7F, 0x80, 0x80}, {0xFF, 0, 0x00}, {0x80, -127, 0x81}, {0x00, 1, 0x01}};
    for (const auto& c : cases) {
        SetUp();
        ecu_sends(make_frame(c.received, 0x09, {}));
        EXPECT_EQ(receive_frame(), 0);
        EXPECT_EQ(frame_counter, c.counter);
        fake_line.on_write = nullptr;
        fake_line.written.clear();
        send_frame(TITLE_ACK, 0);
        EXPECT_EQ(written()[1], c.sent_next);
    }
}

TEST_F(frame_test, short_and_negative_length_bytes_read_no_body) {
    for (uint8_t length : {0x00, 0x01, 0x80, 0xC5, 0xFF}) {
        SetUp();
        ecu_sends({length, 0x33, 0x44});

        EXPECT_EQ(receive_frame(), 0) << int(length);

        EXPECT_EQ(frame_buffer[0], length);
        EXPECT_EQ(frame_buffer[1], 0x33) << "the next byte goes unanswered to index 1";
        EXPECT_EQ(frame_buffer[2], 0x00);
        EXPECT_EQ(frame_counter, 0x34);
        EXPECT_EQ(written(), bytes{uint8_t(length ^ 0xFF)}) << "only the length is answered";
    }
}

TEST_F(frame_test, length_two_reads_only_the_counter_and_ends_at_index_two) {
    ecu_sends({0x02, 0x33, 0x03});

    EXPECT_EQ(receive_frame(), 0);

    EXPECT_EQ(frame_buffer[1], 0x33);
    EXPECT_EQ(frame_buffer[2], 0x03);
    EXPECT_EQ(written(), (bytes{0xFD, 0xCC}));
}

TEST_F(frame_test, oversize_frame_is_taken_off_the_line_and_cut_to_the_buffer) {
    bytes data;
    for (int i = 0; i < 20; i++) {
        data.push_back(uint8_t(0x40 + i));
    }
    bytes reply = make_frame(0x21, 0xFE, data); // length byte 23
    ecu_sends(reply);

    EXPECT_EQ(receive_frame(), 0);

    EXPECT_EQ(bytes(frame_buffer, frame_buffer + 16), bytes(reply.begin(), reply.begin() + 16));
    EXPECT_EQ(written(), complements_of(bytes(reply.begin(), reply.end() - 1)))
        << "every byte but the end byte answered, so the ECU stays in step";
    EXPECT_EQ(frame_counter, 0x22);
    EXPECT_TRUE(fake_line.incoming.empty()) << "the whole frame was taken";
}

TEST_F(frame_test, too_much_data_to_send_is_cut_to_the_buffer) {
    fake_ecu ecu;
    ecu.attach_awake();
    for (int i = 3; i < 16; i++) {
        frame_buffer[i] = uint8_t(i);
    }

    EXPECT_EQ(send_frame(TITLE_READ_RAM, 40), 0);

    bytes expected = {16, 0, TITLE_READ_RAM};
    for (int i = 3; i < 16; i++) {
        expected.push_back(uint8_t(i));
    }
    expected.push_back(FRAME_END);
    EXPECT_EQ(written(), expected);
}

TEST_F(frame_test, two_frames_without_a_receive_between_carry_the_same_counter) {
    fake_ecu ecu;
    ecu.attach_awake();
    frame_counter = 0x5C;

    send_frame(TITLE_ACK, 0);
    send_frame(TITLE_READ_ERRORS, 0);

    ASSERT_EQ(ecu.frames_received.size(), 2u);
    EXPECT_EQ(ecu.frames_received[0][1], 0x5C);
    EXPECT_EQ(ecu.frames_received[1][1], 0x5C);
}
