#include "control/console.h"
#include "tests/fakes/fakes.h"

#include <gtest/gtest.h>

class console_test : public ::testing::Test {
  protected:
    void SetUp() override {
        fake_screen_reset();
        open_console();
    }
};

TEST_F(console_test, open_titles_the_window) {
    EXPECT_TRUE(fake_screen.open);
    EXPECT_EQ(fake_screen.title, "Quelmar console version 1.0b - Bosch 2.10.4");
}

TEST_F(console_test, clear_blanks_columns_0_to_78_in_white_and_homes_the_cursor) {
    fake_screen_fill('X', COLOUR_RED);

    clear_screen();

    for (int row = 0; row < 25; row++) {
        EXPECT_EQ(fake_screen_row(row), std::string(79, ' ') + 'X') << row;
        EXPECT_EQ(fake_screen_attribute(0, row), COLOUR_WHITE);
        EXPECT_EQ(fake_screen_attribute(78, row), COLOUR_WHITE);
        EXPECT_EQ(fake_screen_attribute(79, row), COLOUR_RED);
    }
    EXPECT_EQ(fake_screen.column, 0);
    EXPECT_EQ(fake_screen.row, 0);
    EXPECT_EQ(fake_screen.attribute, COLOUR_WHITE);
}

TEST_F(console_test, empty_text_moves_the_cursor_and_sets_the_colour_only) {
    clear_screen();

    print_at(console_handle, "", 0, 4, COLOUR_BLUE);
    print_at_cursor("abc");

    EXPECT_EQ(fake_screen_text(0, 4, 4), "abc ");
    EXPECT_EQ(fake_screen_attribute(0, 4), COLOUR_BLUE);
}

TEST_F(console_test, text_is_never_taken_as_a_format) {
    print_at(console_handle, "100%d %s%%", 2, 1, COLOUR_YELLOW);

    EXPECT_EQ(fake_screen_text(2, 1, 10), "100%d %s%%");
}

TEST_F(console_test, shorter_text_over_a_longer_one_leaves_its_tail) {
    print_at(console_handle, "Revs: 10200", 0, 5, COLOUR_GREEN);
    print_at(console_handle, "Revs: 800", 0, 5, COLOUR_GREEN);

    EXPECT_EQ(fake_screen_text(0, 5, 11), "Revs: 80000");
}

TEST_F(console_test, text_past_column_79_goes_on_at_column_0_of_the_next_row) {
    print_at(console_handle, "123456", 76, 7, COLOUR_WHITE);

    EXPECT_EQ(fake_screen_text(76, 7, 4), "1234");
    EXPECT_EQ(fake_screen_text(0, 8, 3), "56 ");
    EXPECT_EQ(fake_screen.column, 2);
    EXPECT_EQ(fake_screen.row, 8);
}

TEST_F(console_test, output_after_print_at_continues_there_in_its_colour) {
    print_at(console_handle, "|", 16, 3, COLOUR_YELLOW);
    print_at_cursor("Error in ram address frame tx\n");
    print_at_cursor("next");

    EXPECT_EQ(fake_screen_text(16, 3, 31), "|Error in ram address frame tx ");
    EXPECT_EQ(fake_screen_attribute(17, 3), COLOUR_YELLOW);
    EXPECT_EQ(fake_screen_text(0, 4, 4), "next");
    EXPECT_EQ(fake_screen_attribute(0, 4), COLOUR_YELLOW);
}

TEST_F(console_test, newline_and_carriage_return_move_without_blanking) {
    fake_screen_fill('X', 7);

    print_at(console_handle, "ab\ncd\re", 10, 2, COLOUR_WHITE);

    EXPECT_EQ(fake_screen_text(10, 2, 4), "abXX");
    EXPECT_EQ(fake_screen_text(0, 3, 3), "edX");
}

TEST_F(console_test, tabs_blank_the_cells_they_pass) {
    const struct {
        int column;
        int blanked_to;  // last cell blanked
        int next_column; // where the text after the tab starts
        int next_row;
    } cases[] = {
        {0, 7, 8, 6}, {3, 7, 8, 6}, {8, 15, 16, 6}, {71, 71, 72, 6}, {72, 79, 0, 7}, {79, 79, 0, 7},
    };
    for (const auto& c : cases) {
        fake_screen_fill('X', COLOUR_RED);
        print_at(console_handle, "\tZ", int16_t(c.column), 6, COLOUR_GREEN);

        for (int column = c.column; column <= c.blanked_to; column++) {
            EXPECT_EQ(fake_screen.cells[6][column].ch, ' ') << c.column << ":" << column;
            EXPECT_EQ(fake_screen.cells[6][column].attribute, COLOUR_GREEN);
        }
        EXPECT_EQ(fake_screen.cells[c.next_row][c.next_column].ch, 'Z') << c.column;
        if (c.blanked_to < 79) {
            EXPECT_EQ(fake_screen.cells[6][c.blanked_to + 2].ch, 'X') << c.column;
        }
    }
}

TEST_F(console_test, without_a_console_text_is_still_written_unpositioned) {
    close_console();
    fake_screen_reset();
    fake_screen.no_console = true;
    open_console();

    print_at(console_handle, "Bye...\n", 0, 22, COLOUR_WHITE);

    EXPECT_EQ(console_handle, nullptr);
    EXPECT_EQ(fake_screen.output, "Bye...\n");
    EXPECT_EQ(fake_screen_text(0, 0, 6), "Bye...") << "written at the cursor, not at row 22";
    EXPECT_EQ(fake_screen_attribute(0, 0), 7);
}
