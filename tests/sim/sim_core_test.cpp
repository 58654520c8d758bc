// The protocol engine against a scripted tool: every byte the tool writes goes through
// sim_on_byte, and the tool takes the ECU's bytes from what the engine put on the line.
#include "sim_core.h"

#include <deque>
#include <gtest/gtest.h>
#include <vector>

namespace {

typedef std::vector<uint8_t> bytes;

struct scripted_tool : testing::Test {
    sim_config config = {};
    sim_state s = {};
    std::deque<sim_out_byte> line; // the ECU's bytes the tool has not read yet

    void start() {
        sim_init(&s, &config);
    }

    void take(const sim_output& out) {
        for (int i = 0; i < out.count; i++) {
            line.push_back(out.bytes[i]);
        }
    }

    // The tool writes one byte; the K-line echo must come back before anything else.
    void write(uint8_t b) {
        sim_output out = {};
        sim_on_byte(&s, b, &out);
        ASSERT_GE(out.count, 1);
        EXPECT_EQ(out.bytes[0].kind, OUT_ECHO);
        EXPECT_EQ(out.bytes[0].value, b);
        for (int i = 1; i < out.count; i++) {
            line.push_back(out.bytes[i]);
        }
    }

    // Returns -1 when the ECU sent nothing.
    int read() {
        if (line.empty()) {
            return -1;
        }
        int b = line.front().value;
        line.pop_front();
        return b;
    }

    void flush_and_answer() {
        sim_output out = {};
        sim_on_flush(&s, &out);
        take(out);
        bytes answer;
        for (int i = 0; i < SIM_ANSWER_SIZE; i++) {
            answer.push_back((uint8_t)read());
        }
        write(answer[2] ^ 0xFF);
    }

    // The tool's send_frame: 0, or 1 for a missing and 2 for a wrong complement (the first).
    int send_frame(uint8_t counter, uint8_t title, const bytes& data = {}) {
        bytes frame = {(uint8_t)(data.size() + 3), counter, title};
        frame.insert(frame.end(), data.begin(), data.end());
        int result = 0;
        for (uint8_t b : frame) {
            write(b);
            int answer = read();
            int r = answer < 0 ? 1 : answer == (b ^ 0xFF) ? 0 : 2;
            if (result == 0) {
                result = r;
            }
        }
        write(SIM_FRAME_END);
        return result;
    }

    // The tool's receive_frame: the whole frame, end byte included; empty when nothing came.
    bytes receive_frame() {
        bytes frame;
        int length = read();
        if (length < 0) {
            return frame;
        }
        frame.push_back((uint8_t)length);
        write((uint8_t)(length ^ 0xFF));
        for (int i = 0; i < length - 1; i++) {
            int b = read();
            if (b < 0) {
                return frame;
            }
            frame.push_back((uint8_t)b);
            write((uint8_t)(b ^ 0xFF));
        }
        int end = read();
        if (end >= 0) {
            frame.push_back((uint8_t)end);
        }
        return frame;
    }

    // Wake-up and identification as the tool does them; returns the next counter to send.
    uint8_t identify() {
        start();
        flush_and_answer();
        unsigned total = 0;
        bytes frame;
        while ((total & 0xFF) < 30) {
            frame = receive_frame();
            total += (frame.empty() ? 0 : frame[0]) - 3;
            send_frame((uint8_t)(frame.size() > 1 ? frame[1] + 1 : 0), SIM_TITLE_ACK);
        }
        frame = receive_frame();
        EXPECT_EQ(frame.size(), 4u);
        if (frame.size() < 4) {
            return 0;
        }
        EXPECT_EQ(frame, (bytes{0x03, frame[1], SIM_TITLE_ACK, 0x03}));
        return (uint8_t)(frame[1] + 1);
    }

    bytes read_ram(uint8_t* counter, uint8_t count, uint16_t address) {
        send_frame(*counter, SIM_TITLE_READ_RAM,
                   {count, (uint8_t)(address >> 8), (uint8_t)address});
        bytes reply = receive_frame();
        if (reply.size() > 1) {
            *counter = (uint8_t)(reply[1] + 1);
        }
        return reply;
    }

    // One collection as the tool makes it: read-errors, then ACK and read-errors again after
    // each record frame, until a frame titled 0x09.
    std::vector<bytes> collect(uint8_t* n, int limit = 20) {
        std::vector<bytes> frames;
        send_frame(*n, SIM_TITLE_READ_ERRORS);
        for (int i = 0; i < limit; i++) {
            bytes f = receive_frame();
            frames.push_back(f);
            if (f.size() < 3) {
                break;
            }
            *n = (uint8_t)(f[1] + 1);
            if (f[2] == SIM_TITLE_ACK) {
                break;
            }
            send_frame(*n, SIM_TITLE_ACK);
            EXPECT_TRUE(line.empty()) << "the ECU does not answer an acknowledge";
            send_frame(*n, SIM_TITLE_READ_ERRORS);
        }
        return frames;
    }

    void store(std::initializer_list<sim_error_record> records) {
        for (const sim_error_record& r : records) {
            config.memory[config.memory_count++] = r;
        }
    }

    void poll(uint8_t* counter) {
        read_ram(counter, 10, 0x2000);
        read_ram(counter, 7, 0x2010);
    }
};

TEST_F(scripted_tool, answers_the_wakeup_only_after_the_purge) {
    start();
    sim_output out = {};
    sim_on_byte(&s, 0x42, &out);
    ASSERT_EQ(out.count, 1) << "before the purge the ECU only echoes";
    EXPECT_EQ(out.bytes[0].value, 0x42);

    out = {};
    sim_on_flush(&s, &out);
    ASSERT_EQ(out.count, SIM_ANSWER_SIZE);
    for (int i = 0; i < SIM_ANSWER_SIZE; i++) {
        EXPECT_EQ(out.bytes[i].value, sim_wakeup_answer[i]);
    }
    EXPECT_EQ(out.bytes[0].kind, OUT_WAKEUP_FIRST);

    // The complement of the third answer byte is echoed, then the first identification frame
    // begins.
    write(sim_wakeup_answer[2] ^ 0xFF);
    ASSERT_EQ(line.size(), 1u);
    EXPECT_EQ(line.front().value, SIM_ID_FRAME_DATA + 3);
    EXPECT_EQ(line.front().kind, OUT_FRAME_FIRST);
    EXPECT_EQ(s.failures, 0);
}

TEST_F(scripted_tool, wrong_wakeup_complement_is_reported_and_identification_goes_on) {
    start();
    sim_output out = {};
    sim_on_flush(&s, &out);
    write(sim_wakeup_answer[2]);
    EXPECT_EQ(s.failures, 1);
    EXPECT_EQ(s.phase, PHASE_IDENT);
}

TEST_F(scripted_tool, a_second_purge_restarts_the_wakeup_and_leaving_before_it_is_reported) {
    start();
    sim_output out = {};
    sim_on_flush(&s, &out); // a tool that set its line with a flushing call
    EXPECT_FALSE(sim_waiting(&s)) << "no give-up time for the wake-up complement";
    out = {};
    sim_on_flush(&s, &out); // the purge at the end of its wake-up
    EXPECT_EQ(out.count, SIM_ANSWER_SIZE);
    EXPECT_EQ(s.failures, 0);
    sim_on_tool_gone(&s);
    EXPECT_EQ(s.failures, 1);
    EXPECT_EQ(s.phase, PHASE_WAIT_FLUSH);
}

TEST_F(scripted_tool, identification_sends_three_text_frames_then_its_ack_frame) {
    start();
    flush_and_answer();
    uint8_t counter = 0;
    for (int f = 0; f < SIM_ID_FRAMES; f++) {
        bytes frame = receive_frame();
        ASSERT_EQ(frame.size(), SIM_ID_FRAME_DATA + 4u);
        EXPECT_EQ(frame[0], SIM_ID_FRAME_DATA + 3);
        if (f > 0) {
            EXPECT_EQ(frame[1], (uint8_t)(counter + 1)) << "the ECU's counter follows the tool's";
        }
        EXPECT_EQ(std::string(frame.begin() + 3, frame.end() - 1), sim_id_text[f]);
        EXPECT_EQ(frame.back(), SIM_FRAME_END);
        counter = (uint8_t)(frame[1] + 1);
        EXPECT_EQ(send_frame(counter, SIM_TITLE_ACK), 0);
    }
    bytes last = receive_frame();
    EXPECT_EQ(last, (bytes{0x03, (uint8_t)(counter + 1), SIM_TITLE_ACK, 0x03}));
    EXPECT_EQ(s.phase, PHASE_RUN);
    EXPECT_TRUE(line.empty());
    EXPECT_EQ(s.failures, 0);
}

TEST_F(scripted_tool, read_ram_exchange_byte_by_byte) {
    const uint8_t ram[10] = {0x3C, 0x55, 0xA0, 0x60, 0x0C, 0x14, 0x3C, 0x58, 0x06, 0x80};
    for (int i = 0; i < 10; i++) {
        config.ram[i] = ram[i];
        config.ram_frozen[i] = true;
    }
    uint8_t n = identify();
    sim_set_ram(&s, 0x2000, 0x99); // frozen bytes ignore the engine model
    sim_set_ram(&s, 0x200A, 0x77);

    // The request, byte by byte: echo, then the ECU's complement.
    const bytes request = {0x06, n, 0x01, 0x0A, 0x20, 0x00};
    const bytes complements = {0xF9, (uint8_t)(n ^ 0xFF), 0xFE, 0xF5, 0xDF, 0xFF};
    for (size_t i = 0; i < request.size(); i++) {
        write(request[i]);
        ASSERT_EQ(line.size(), 1u) << "byte " << i;
        EXPECT_EQ(read(), complements[i]) << "byte " << i;
        EXPECT_EQ(line.size(), 0u);
    }
    write(0x03); // the end byte is not answered; the reply begins
    ASSERT_EQ(line.size(), 1u);
    EXPECT_EQ(line.front().kind, OUT_FRAME_FIRST);

    bytes reply = receive_frame();
    bytes expected = {0x0D, (uint8_t)(n + 1), SIM_TITLE_RAM_DATA};
    expected.insert(expected.end(), ram, ram + 10);
    expected.push_back(0x03);
    EXPECT_EQ(reply, expected);
    EXPECT_TRUE(line.empty()) << "nothing after the end byte";

    // Window B: seven bytes from 0x2010; the next counter is the reply's plus one.
    uint8_t counter = (uint8_t)(reply[1] + 1);
    sim_set_ram(&s, 0x2010, 0xC0);
    bytes b = read_ram(&counter, 7, 0x2010);
    ASSERT_EQ(b.size(), 11u);
    EXPECT_EQ(b[0], 0x0A);
    EXPECT_EQ(b[3], 0xC0);
    EXPECT_EQ(s.failures, 0);
}

TEST_F(scripted_tool, counters_wrap_and_a_wrong_counter_is_reported_once) {
    uint8_t n = identify();
    for (int i = 0; i < 140; i++) { // past 0xFF
        poll(&n);
    }
    EXPECT_EQ(s.failures, 0);
    send_frame((uint8_t)(n + 5), SIM_TITLE_READ_RAM, {10, 0x20, 0x00});
    bytes reply = receive_frame();
    ASSERT_GE(reply.size(), 2u);
    EXPECT_EQ(reply[1], (uint8_t)(n + 6)) << "the reply carries the tool's counter plus one";
    EXPECT_EQ(s.failures, 1);
    n = (uint8_t)(reply[1] + 1);
    read_ram(&n, 7, 0x2010);
    EXPECT_EQ(s.failures, 1) << "the ECU follows the tool's count after a mismatch";
}

TEST_F(scripted_tool, wrong_complement_and_end_byte_from_the_tool_are_reported) {
    uint8_t n = identify();
    send_frame(n, SIM_TITLE_READ_RAM, {10, 0x20, 0x00});
    ASSERT_EQ(read(), 0x0D);
    write(0x0D); // the byte itself, not its complement
    EXPECT_EQ(s.failures, 1);
    while (!line.empty() || s.link == LINK_TX) {
        int b = read();
        if (b < 0) {
            break;
        }
        if (s.link == LINK_TX) {
            write((uint8_t)(b ^ 0xFF));
        }
    }
    n = (uint8_t)(s.counter + 1);
    bytes frame = {0x06, n, 0x01, 10, 0x20, 0x00};
    for (uint8_t b : frame) {
        write(b);
        read();
    }
    write(0x04); // not the end byte
    EXPECT_EQ(s.failures, 2);
}

struct error_memory : scripted_tool {};

TEST_F(error_memory, records_come_two_then_one_then_the_ack_frame) {
    store({{0x01, 0x00, 0, 0, 5}, {0x02, 0x02, 0, 0, 64}, {0x2D, 0x08, 0, 0, 200}});
    uint8_t n = identify();
    for (int collection = 0; collection < 2; collection++) {
        std::vector<bytes> frames = collect(&n);
        ASSERT_EQ(frames.size(), 3u) << "collection " << collection;
        bytes two = {0x0D, frames[0][1], SIM_TITLE_RECORDS, 0x01, 0x00, 0, 0, 5, 0x02, 0x02, 0, 0,
                     64,   0x03};
        bytes one = {0x08, frames[1][1], SIM_TITLE_RECORDS, 0x2D, 0x08, 0, 0, 200, 0x03};
        EXPECT_EQ(frames[0], two);
        EXPECT_EQ(frames[1], one);
        EXPECT_EQ(frames[2], (bytes{0x03, frames[2][1], SIM_TITLE_ACK, 0x03}));
        poll(&n); // live data between collections
    }
    EXPECT_EQ(s.failures, 0);
}

TEST_F(error_memory, empty_memory_answers_with_the_ack_frame_at_once) {
    uint8_t n = identify();
    std::vector<bytes> frames = collect(&n);
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0][0], 0x03);
    EXPECT_EQ(frames[0][2], SIM_TITLE_ACK);
}

TEST_F(error_memory, clear_errors_empties_the_memory) {
    store({{0x01, 0x00, 0, 0, 5}});
    uint8_t n = identify();
    send_frame(n, SIM_TITLE_CLEAR_ERRORS);
    bytes reply = receive_frame();
    EXPECT_EQ(reply, (bytes{0x03, (uint8_t)(n + 1), SIM_TITLE_ACK, 0x03}));
    n = (uint8_t)(reply[1] + 1);
    EXPECT_EQ(collect(&n).size(), 1u);
    EXPECT_EQ(s.failures, 0);
}

TEST_F(error_memory, a_record_frame_not_acknowledged_is_reported) {
    store({{0x01, 0x00, 0, 0, 5}, {0x03, 0x00, 0, 0, 6}, {0x05, 0x00, 0, 0, 7}});
    uint8_t n = identify();
    send_frame(n, SIM_TITLE_READ_ERRORS);
    bytes f = receive_frame();
    n = (uint8_t)(f[1] + 1);
    send_frame(n, SIM_TITLE_READ_ERRORS);
    EXPECT_EQ(s.failures, 1);
}

TEST_F(scripted_tool, silence_inside_an_exchange_is_reported_and_the_ecu_listens_again) {
    uint8_t n = identify();
    write(0x06); // a request that stops after its length byte
    read();
    EXPECT_TRUE(sim_waiting(&s));
    sim_output out = {};
    sim_on_silence(&s, &out);
    EXPECT_EQ(s.failures, 1);
    EXPECT_FALSE(sim_waiting(&s));

    send_frame(n, SIM_TITLE_READ_RAM, {10, 0x20, 0x00});
    read(); // the reply's length byte, never answered
    sim_on_silence(&s, &out);
    EXPECT_EQ(s.failures, 2);
    read_ram(&n, 10, 0x2000);
    EXPECT_EQ(s.failures, 2) << "after a lost exchange any counter is taken";
}

// The scenarios: each makes the ECU do what it says, and none counts as the tool's failure.
struct scenario : scripted_tool {};

TEST_F(scenario, silent_ecu_only_echoes) {
    config.silent = true;
    start();
    sim_output out = {};
    sim_on_flush(&s, &out);
    EXPECT_EQ(out.count, 0);
    write(0x75);
    write(0x06);
    EXPECT_TRUE(line.empty());
    EXPECT_FALSE(sim_waiting(&s));
}

TEST_F(scenario, stops_answering_after_n_polls) {
    config.stop_after_polls = 2;
    uint8_t n = identify();
    poll(&n);
    poll(&n);
    EXPECT_EQ(send_frame(n, SIM_TITLE_READ_RAM, {10, 0x20, 0x00}), 1);
    EXPECT_TRUE(line.empty());
    EXPECT_EQ(s.failures, 0);
}

TEST_F(scenario, wrong_complement_hits_the_title_of_poll_n) {
    config.fault_poll[FAULT_WRONG_COMPLEMENT] = 2;
    uint8_t n = identify();
    EXPECT_EQ(send_frame(n, SIM_TITLE_READ_RAM, {10, 0x20, 0x00}), 0);
    n = (uint8_t)(receive_frame()[1] + 1);
    read_ram(&n, 7, 0x2010);
    EXPECT_EQ(send_frame(n, SIM_TITLE_READ_RAM, {10, 0x20, 0x00}), 2);
    bytes reply = receive_frame();
    EXPECT_EQ(reply.size(), 14u) << "the reply still comes";
    n = (uint8_t)(reply[1] + 1);
    EXPECT_EQ(send_frame(n, SIM_TITLE_READ_RAM, {7, 0x20, 0x10}), 0);
    EXPECT_EQ(s.failures, 0);
}

TEST_F(scenario, broken_frame_stops_after_six_bytes) {
    config.fault_poll[FAULT_BROKEN_FRAME] = 1;
    uint8_t n = identify();
    send_frame(n, SIM_TITLE_READ_RAM, {10, 0x20, 0x00});
    bytes reply = receive_frame();
    EXPECT_EQ(reply.size(), 6u);
    EXPECT_EQ(reply[0], 0x0D);
    EXPECT_FALSE(sim_waiting(&s));
    // The tool's counter did not move: the ECU takes it as it comes.
    read_ram(&n, 7, 0x2010);
    poll(&n);
    EXPECT_EQ(s.failures, 0);
}

TEST_F(scenario, oversize_length_sends_the_whole_announced_frame) {
    config.fault_poll[FAULT_OVERSIZE_LENGTH] = 1;
    uint8_t n = identify();
    send_frame(n, SIM_TITLE_READ_RAM, {10, 0x20, 0x00});
    bytes reply = receive_frame();
    ASSERT_EQ(reply.size(), 33u);
    EXPECT_EQ(reply[0], 0x20);
    EXPECT_EQ(reply.back(), 0x03);
    n = (uint8_t)(reply[1] + 1);
    poll(&n);
    EXPECT_EQ(s.failures, 0);
}

TEST_F(scenario, garbage_in_place_of_the_reply_then_listens_after_a_quiet_line) {
    config.fault_poll[FAULT_GARBAGE] = 1;
    uint8_t n = identify();
    send_frame(n, SIM_TITLE_READ_RAM, {10, 0x20, 0x00});
    ASSERT_GE(line.size(), 4u);
    for (const sim_out_byte& b : line) {
        EXPECT_EQ(b.kind, OUT_GARBAGE);
    }
    line.clear();
    write(0xA5); // the confused tool answers; the ECU only echoes
    EXPECT_TRUE(line.empty());
    sim_output out = {};
    sim_on_silence(&s, &out);
    read_ram(&n, 7, 0x2010);
    EXPECT_EQ(line.size(), 0u);
    EXPECT_EQ(s.failures, 0);
}

TEST_F(scenario, endless_errors_never_send_the_ack_frame) {
    config.fault_poll[FAULT_ENDLESS_ERRORS] = 1;
    config.memory[0] = {0x01, 0, 0, 0, 5};
    config.memory_count = 1;
    uint8_t n = identify();
    std::vector<bytes> frames = collect(&n, 12);
    ASSERT_EQ(frames.size(), 12u);
    for (const bytes& f : frames) {
        EXPECT_EQ(f[2], SIM_TITLE_RECORDS);
        EXPECT_EQ(f[3], 0x01);
    }
    EXPECT_EQ(s.failures, 0);
}

TEST_F(scenario, endless_identification_frames_are_empty) {
    config.fault_poll[FAULT_ENDLESS_ID] = 1;
    start();
    flush_and_answer();
    for (int i = 0; i < 50; i++) {
        bytes frame = receive_frame();
        ASSERT_EQ(frame.size(), 4u);
        EXPECT_EQ(frame[0], 0x03);
        send_frame((uint8_t)(frame[1] + 1), SIM_TITLE_ACK);
    }
    EXPECT_EQ(s.phase, PHASE_IDENT);
    EXPECT_EQ(s.failures, 0);
}

TEST_F(scenario, a_new_purge_starts_a_new_session) {
    config.stop_after_polls = 1;
    uint8_t n = identify();
    poll(&n);
    EXPECT_EQ(s.phase, PHASE_MUTE);
    line.clear();
    flush_and_answer();
    EXPECT_EQ(s.phase, PHASE_IDENT);
    EXPECT_EQ(line.size(), 1u);
}

} // namespace
