// Error messages: slots 0 to 6 of error_table on rows 13 to 19.
#include "services/error_messages.h"
#include "services_fixture.h"

#include <set>

namespace {

constexpr int MESSAGE_WIDTH = 68;
const std::string BLANK(MESSAGE_WIDTH, ' ');

class error_messages_test : public services_test {
  protected:
    void SetUp() override {
        services_test::SetUp();
        fake_screen_fill('#', 7); // cells a row must not reach stay '#'
        // What a live-data line leaves in the shared buffer.
        snprintf(tmp, sizeof tmp, "Int. lambda:\t%d %%   ", -102);
    }

    // The row holds exactly this message, padded to the blank line's width, in the colour.
    void expect_row(int row, const std::string& message, uint16_t colour) {
        SCOPED_TRACE(testing::Message() << "row " << row);
        EXPECT_EQ(fake_screen_text(0, row, MESSAGE_WIDTH + 1),
                  padded(message, MESSAGE_WIDTH) + "#");
        for (int column = 0; column < MESSAGE_WIDTH; column++) {
            ASSERT_EQ(fake_screen_attribute(column, row), colour) << "column " << column;
        }
    }
};

TEST_F(error_messages_test, EachRecordShowsTheMessageItsCodeAndStatusSelect) {
    struct case_ {
        error_record record; // code, status, byte_2, byte_3, value
        const char* message;
        uint16_t colour;
    };
    const case_ cases[] = {
        {{1, 0x00, 0, 0, 5}, "(5) ECU internal RAM error", COLOUR_YELLOW},
        {{1, 0xFF, 9, 9, 63}, "(63) ECU internal RAM error", COLOUR_YELLOW},
        {{1, 0x00, 0, 0, 64}, "(64) ECU internal RAM error", COLOUR_RED},
        {{1, 0x00, 0, 0, 255}, "(255) ECU internal RAM error", COLOUR_RED},
        {{2, 0x06, 0, 0, 64}, "(64) Idle actuator (closing) s/c to ground", COLOUR_RED},
        {{2, 0x03, 0, 0, 7}, "(7) Idle actuator (closing) s/c to 12v", COLOUR_YELLOW},
        {{2, 0x04, 0, 0, 7}, "(7) Idle actuator (closing) open circuit", COLOUR_YELLOW},
        {{45, 0x0C, 0, 0, 30}, "(30) Water temperature sensor implausible", COLOUR_YELLOW},
        {{200, 0x07, 0, 0, 10}, "Error between immobiliser and ECU", COLOUR_YELLOW},
        {{13, 0x00, 0, 0, 99}, "Automatic gearbox input s/c to ground", COLOUR_RED},
        {{255, 0x02, 0, 0, 1}, "(1) Exhaust gas recirculator s/c to ground", COLOUR_YELLOW},
        {{138, 0x02, 0, 0, 255},
         "(255) Supercharging adjustment with throttle closed at bottom limit",
         COLOUR_RED},                           // the longest: 67 characters
        {{11, 0x07, 0, 0, 64}, "", COLOUR_RED}, // no group of its own
        {{11, 0x07, 0, 0, 63}, "", COLOUR_YELLOW},
        {{0, 0x07, 0, 0, 200}, "", COLOUR_RED}, // an empty slot with bytes in it
        // Bit groups whose tested bits are all clear name the code and its status.
        {{2, 0x00, 0, 0, 12}, "(12) Error code 2, status 0x00 (no description)", COLOUR_YELLOW},
        {{2, 0xF0, 0, 0, 99}, "(99) Error code 2, status 0xF0 (no description)", COLOUR_RED},
        {{45, 0x04, 0, 0, 3}, "(3) Error code 45, status 0x04 (no description)", COLOUR_YELLOW},
    };
    for (const case_& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << "code " << int(c.record.code) << " status " << int(c.record.status)
                     << " value " << int(c.record.value));
        error_table[0] = c.record;
        show_error_messages();
        expect_row(13, c.message, c.colour);
    }
}

TEST_F(error_messages_test, AnEmptyTableGivesSevenBlankYellowRows) {
    show_error_messages();
    for (int row = 13; row <= 19; row++) {
        expect_row(row, "", COLOUR_YELLOW);
    }
    EXPECT_EQ(fake_screen_row(12), std::string(80, '#'));
    EXPECT_EQ(fake_screen_row(20), std::string(80, '#'));
}

TEST_F(error_messages_test, SlotsZeroToSixGoToRows13To19AndSlotsSevenToNineNowhere) {
    for (int slot = 0; slot < ERROR_TABLE_SIZE; slot++) {
        error_table[slot] = {1, 0, 0, 0, uint8_t(100 + slot)};
    }
    show_error_messages();
    for (int slot = 0; slot < 7; slot++) {
        expect_row(13 + slot, "(" + std::to_string(100 + slot) + ") ECU internal RAM error",
                   COLOUR_RED);
    }
    for (int row : {12, 20, 21, 22, 23, 24}) {
        EXPECT_EQ(fake_screen_row(row), std::string(80, '#')) << "row " << row;
    }
    for (const char* unseen : {"(107)", "(108)", "(109)"}) {
        EXPECT_EQ(fake_screen.output.find(unseen), std::string::npos) << unseen;
    }
}

TEST_F(error_messages_test, AShorterMessageLeavesNothingOfTheLongerOneBefore) {
    error_table[0] = {138, 0x02, 0, 0, 255};
    show_error_messages();
    error_table[0] = {1, 0, 0, 0, 5};
    show_error_messages();
    expect_row(13, "(5) ECU internal RAM error", COLOUR_YELLOW);
}

TEST_F(error_messages_test, ARowWithNoMessageForItsStatusDoesNotRepeatTheRowAbove) {
    error_table[0] = {1, 0, 0, 0, 5};
    error_table[1] = {28, 0x00, 0, 0, 6};
    show_error_messages();
    expect_row(13, "(5) ECU internal RAM error", COLOUR_YELLOW);
    expect_row(14, "(6) Error code 28, status 0x00 (no description)", COLOUR_YELLOW);
}

TEST_F(error_messages_test, ExactlyTheThirtyEightListedCodesHaveMessages) {
    const std::set<int> listed = {1,   2,   3,   4,   5,   6,   7,   8,   9,   10,  12,  13,  16,
                                  22,  24,  28,  34,  37,  44,  45,  55,  80,  102, 103, 104, 128,
                                  129, 133, 137, 138, 143, 200, 225, 226, 227, 228, 229, 255};
    ASSERT_EQ(listed.size(), 38u);
    for (int code = 1; code <= 255; code++) {
        error_table[0] = {uint8_t(code), 0x0F, 0, 0, 1};
        show_error_messages();
        bool blank = fake_screen_text(0, 13, MESSAGE_WIDTH) == BLANK;
        EXPECT_EQ(blank, listed.count(code) == 0) << "code " << code;
    }
}

} // namespace
