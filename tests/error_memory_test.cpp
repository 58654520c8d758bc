// Error memory: the collection into error_table and the clear request, checked on the wire.
#include "services_fixture.h"

#include <ostream>
#include <vector>

// Found by the assertions through the record type's namespace.
static bool operator==(const error_record& a, const error_record& b) {
    return a.code == b.code && a.status == b.status && a.byte_2 == b.byte_2 &&
           a.byte_3 == b.byte_3 && a.value == b.value;
}

static std::ostream& operator<<(std::ostream& out, const error_record& r) {
    return out << "{" << int(r.code) << ", " << int(r.status) << ", " << int(r.byte_2) << ", "
               << int(r.byte_3) << ", " << int(r.value) << "}";
}

namespace {

constexpr uint8_t RECORD_TITLE = 0xFC;

bytes read_errors(uint8_t counter) {
    return make_frame(counter, TITLE_READ_ERRORS, {});
}

bytes ack(uint8_t counter) {
    return make_frame(counter, TITLE_ACK, {});
}

// records records from code on, each with its bytes in step with its code.
bytes record_data(uint8_t code, int records) {
    bytes data;
    for (int i = 0; i < records; i++) {
        uint8_t c = uint8_t(code + i);
        data.insert(data.end(), {c, uint8_t(c + 0x10), uint8_t(c + 0x20), uint8_t(c + 0x30),
                                 uint8_t(c + 0x40)});
    }
    return data;
}

error_record record_of(uint8_t code) {
    return {code, uint8_t(code + 0x10), uint8_t(code + 0x20), uint8_t(code + 0x30),
            uint8_t(code + 0x40)};
}

class error_memory_test : public services_test {
  protected:
    // A table that a collection must clear first.
    void fill_table_with_old_records() {
        for (error_record& record : error_table) {
            record = {0xEE, 0xEE, 0xEE, 0xEE, 0xEE};
        }
    }

    void expect_table(const std::vector<error_record>& records) {
        for (int slot = 0; slot < ERROR_TABLE_SIZE; slot++) {
            error_record expected =
                slot < int(records.size()) ? records[size_t(slot)] : error_record{0, 0, 0, 0, 0};
            EXPECT_EQ(error_table[slot], expected) << "slot " << slot;
        }
    }
};

TEST_F(error_memory_test, AFrameThatEndsTheListFirstLeavesTenEmptySlots) {
    struct case_ {
        const char* what;
        bytes reply;
    };
    const case_ cases[] = {
        {"titled 0x09", make_frame(0x41, TITLE_ACK, {})},
        {"titled 0x09 with two records", make_frame(0x41, TITLE_ACK, record_data(1, 2))},
        {"length byte 7", make_frame(0x41, RECORD_TITLE, {1, 2, 3, 4})},
        {"length byte 0x88", {0x88, 0x41}},
        {"length byte 0", {0x00, 0x41}},
        {"no reply", {}},
    };
    for (const case_& c : cases) {
        SCOPED_TRACE(c.what);
        SetUp();
        fill_table_with_old_records();
        ecu.replies = {c.reply};
        read_error_memory();
        expect_table({});
        EXPECT_EQ(ecu.frames_received, std::vector<bytes>{read_errors(0)});
        EXPECT_TRUE(fake_line.incoming.empty());
    }
}

TEST_F(error_memory_test, RecordFramesFillTheSlotsInOrderAndEachIsAcknowledged) {
    struct case_ {
        const char* what;
        bytes data; // of the one record frame
        std::vector<error_record> table;
    };
    const case_ cases[] = {
        {"length byte 8: one record", record_data(1, 1), {record_of(1)}},
        {"length byte 13: two records", record_data(1, 2), {record_of(1), record_of(2)}},
        // Seven data bytes: the second record takes the two that came, the end byte and the
        // zeros of the cleared buffer.
        {"length byte 9: two records",
         {1, 2, 3, 4, 5, 6},
         {{1, 2, 3, 4, 5}, {6, FRAME_END, 0, 0, 0}}},
        {"length byte 10: two records",
         {1, 2, 3, 4, 5, 6, 7},
         {{1, 2, 3, 4, 5}, {6, 7, FRAME_END, 0, 0}}},
    };
    for (const case_& c : cases) {
        SCOPED_TRACE(c.what);
        SetUp();
        fill_table_with_old_records();
        ecu.replies = {make_frame(0x41, RECORD_TITLE, c.data), {}, ack(0x43)};
        read_error_memory();
        expect_table(c.table);
        // The acknowledgement and the next read-errors carry the record frame's counter + 1.
        EXPECT_EQ(ecu.frames_received,
                  (std::vector<bytes>{read_errors(0x00), ack(0x42), read_errors(0x42)}));
        EXPECT_EQ(frame_counter, 0x44);
        EXPECT_TRUE(fake_line.incoming.empty());
        EXPECT_EQ(fake_screen.output, "");
    }
}

TEST_F(error_memory_test, EveryCollectionStartsFromAnEmptyTable) {
    ecu.use_model = true;
    ecu.errors = {
        {1, 0x11, 0x21, 0x31, 0x41}, {2, 0x12, 0x22, 0x32, 0x42}, {3, 0x13, 0x23, 0x33, 0x43}};
    read_error_memory();
    expect_table({record_of(1), record_of(2), record_of(3)});
    ecu.errors = {{4, 0x14, 0x24, 0x34, 0x44}};
    read_error_memory();
    expect_table({record_of(4)});
    EXPECT_EQ(ecu.error_reads, 5); // 2 + 1 records and the end, then 1 and the end
}

TEST_F(error_memory_test, AFailedAcknowledgementIsReportedAtTheCursorAndTheCollectionGoesOn) {
    ecu.use_model = true;
    ecu.records_per_frame = 1;
    ecu.errors = {{1, 0x11, 0x21, 0x31, 0x41}, {2, 0x12, 0x22, 0x32, 0x42}};
    ecu.answer_faults = {{{1, 2}, -1}}; // the first acknowledgement's title goes unanswered
    print_at(console_handle, "", 0, 23, COLOUR_WHITE);
    read_error_memory();
    expect_table({record_of(1), record_of(2)});
    EXPECT_EQ(fake_screen.output, "Error in error memory frame internal ack\n\r");
    EXPECT_EQ(fake_screen_text(0, 23, 40), "Error in error memory frame internal ack");
    EXPECT_EQ(ecu.error_reads, 3);
}

TEST_F(error_memory_test, RecordsPastTheTenthSlotAreDroppedWhileTheListIsReadToItsEnd) {
    // Four two-record frames, a one-record frame, then two two-record frames: 15 records.
    ecu.replies = {};
    uint8_t code = 1;
    uint8_t counter = 0x41;
    for (int records : {2, 2, 2, 2, 1, 2, 2}) {
        ecu.replies.push_back(make_frame(counter, RECORD_TITLE, record_data(code, records)));
        ecu.replies.push_back({});
        code = uint8_t(code + records);
        counter = uint8_t(counter + 2);
    }
    ecu.replies.push_back(ack(counter));
    read_error_memory();
    std::vector<error_record> first_ten;
    for (uint8_t c = 1; c <= 10; c++) {
        first_ten.push_back(record_of(c));
    }
    expect_table(first_ten);
    // Seven record frames, each acknowledged, and the list's end taken off the line.
    EXPECT_EQ(ecu.frames_received.size(), 15u);
    EXPECT_EQ(ecu.frames_received.back(), read_errors(uint8_t(counter - 1)));
    EXPECT_TRUE(fake_line.incoming.empty());
}

TEST_F(error_memory_test, AnEcuThatNeverEndsItsListIsReadForERROR_FRAMES_MAXFramesAtMost) {
    uint8_t counter = 0x10;
    for (int frame = 0; frame < ERROR_FRAMES_MAX + 10; frame++) {
        ecu.replies.push_back(
            make_frame(counter, RECORD_TITLE, record_data(uint8_t(1 + 2 * frame), 2)));
        ecu.replies.push_back({});
        counter = uint8_t(counter + 2);
    }
    read_error_memory();
    ASSERT_EQ(ecu.frames_received.size(), size_t(2 * ERROR_FRAMES_MAX));
    // Every record frame taken is acknowledged, and no further one asked for.
    for (size_t i = 0; i < ecu.frames_received.size(); i++) {
        EXPECT_EQ(ecu.frames_received[i][2], i % 2 == 0 ? TITLE_READ_ERRORS : TITLE_ACK)
            << "frame " << i;
    }
    std::vector<error_record> first_ten;
    for (uint8_t c = 1; c <= 10; c++) {
        first_ten.push_back(record_of(c));
    }
    expect_table(first_ten);
}

TEST_F(error_memory_test, ClearSendsOneFrameReadsOneReplyAndLeavesTableAndScreen) {
    ecu.use_model = true;
    ecu.errors = {{1, 0x11, 0x21, 0x31, 0x41}};
    error_table[0] = record_of(7);
    clear_error_memory();
    EXPECT_EQ(ecu.frames_received, std::vector<bytes>{make_frame(0, TITLE_CLEAR_ERRORS, {})});
    EXPECT_EQ(ecu.clears, 1);
    EXPECT_TRUE(fake_line.incoming.empty());
    EXPECT_EQ(frame_counter, 2);
    expect_table({record_of(7)});
    EXPECT_EQ(fake_screen.output, "");
}

} // namespace

namespace {

// The services in the polling loop: the whole program over an ECU that is woken first.
class services_in_loop_test : public services_test {
  protected:
    void SetUp() override {
        services_test::SetUp();
        ecu = fake_ecu{};
        ecu.use_model = true;
        ecu.attach();
    }

    int run_program() {
        char name[] = "quelmar";
        char port[] = "1";
        char* argv[] = {name, port, nullptr};
        return quelmar_main(2, argv);
    }
};

TEST_F(services_in_loop_test, TheTwentiethPollCollectsAndShowsTheErrors) {
    ecu.errors = {{1, 0, 0, 0, 5}, {2, 0x02, 0, 0, 70}};
    ecu.ram = {{0x2000, 100}};
    ecu.on_frame = [](const bytes& frame) {
        if (frame[2] == TITLE_READ_ERRORS) {
            fake_keys_push({'q'}); // seen after this poll
        }
    };
    ASSERT_EQ(run_program(), 0);
    EXPECT_EQ(ecu.ram_reads, 2 * ERROR_READ_INTERVAL);
    EXPECT_EQ(ecu.error_reads, 2);
    EXPECT_EQ(fake_screen_text(0, 13, 30), padded("(5) ECU internal RAM error", 30));
    EXPECT_EQ(fake_screen_text(0, 14, 45),
              padded("(70) Idle actuator (closing) s/c to ground", 45));
    EXPECT_EQ(fake_screen_attribute(0, 14), COLOUR_RED);
    EXPECT_EQ(fake_screen_text(16, 5, 8), "4000 rpm");
}

TEST_F(services_in_loop_test, TheClearKeySendsTheClearRequest) {
    ecu.errors = {{1, 0, 0, 0, 5}};
    fake_keys_push({'d'});
    ecu.on_frame = [](const bytes& frame) {
        if (frame[2] == TITLE_CLEAR_ERRORS) {
            fake_keys_push({'q'});
        }
    };
    ASSERT_EQ(run_program(), 0);
    EXPECT_EQ(ecu.clears, 1);
    EXPECT_TRUE(ecu.errors.empty());
    EXPECT_EQ(ecu.ram_reads, 0);
}

} // namespace
