// The POSIX platform layer on real pseudo-terminals: what a pty shows of the serial line's
// settings, its exclusive open, its total read time-out, its purge, a peer that goes away, and
// the keyboard's handling of keys that come as several codes.
#include "platform/clock.h"
#include "platform/keyboard.h"
#include "platform/serial_line.h"

#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <string>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

class pty_test : public ::testing::Test {
  protected:
    int master = -1;
    std::string slave_path;
    bool make_raw = true; // a fresh pty is cooked, as a terminal is

    void SetUp() override {
        int slave = -1;
        char name[64];
        ASSERT_EQ(openpty(&master, &slave, name, nullptr, nullptr), 0);
        slave_path = name;
        // Raw through the master, so that the slave side passes bytes unchanged.
        if (make_raw) {
            termios raw;
            tcgetattr(master, &raw);
            cfmakeraw(&raw);
            tcsetattr(master, TCSANOW, &raw);
        }
        close(slave);
    }

    void TearDown() override {
        if (master >= 0) {
            close(master);
        }
    }

    void master_writes(const char* text) {
        master_writes(text, strlen(text));
    }

    void master_writes(const char* data, size_t length) {
        ASSERT_EQ(write(master, data, length), ssize_t(length));
    }
};

TEST_F(pty_test, port_names_map_to_devices) {
    std::string windows_style = "\\\\.\\com" + slave_path;
    serial_line* line = line_open(windows_style.c_str());
    ASSERT_NE(line, nullptr);
    line_close(line);

    for (const char* bad : {"\\\\.\\comABC", "\\\\.\\com0", "\\\\.\\com257", "\\\\.\\com1x",
                            "\\\\.\\com/nonexistent/tty", "COM1"}) {
        EXPECT_EQ(line_open(bad), nullptr) << bad;
    }
}

TEST_F(pty_test, a_port_in_use_cannot_be_opened_again) {
    serial_line* first = line_open(slave_path.c_str());
    ASSERT_NE(first, nullptr);

    EXPECT_EQ(line_open(slave_path.c_str()), nullptr);

    line_close(first);
    serial_line* again = line_open(slave_path.c_str());
    EXPECT_NE(again, nullptr) << "closing releases the port";
    line_close(again);
}

TEST_F(pty_test, line_is_raw_8n1_at_the_speed_without_flow_control) {
    serial_line* line = line_open(slave_path.c_str());
    ASSERT_NE(line, nullptr);

    line_set_format(line, 4800);

    termios t;
    ASSERT_EQ(tcgetattr(master, &t), 0); // the master reads back the slave's settings
    EXPECT_EQ(cfgetospeed(&t), speed_t(B4800));
    EXPECT_EQ(cfgetispeed(&t), speed_t(B4800));
    EXPECT_EQ(t.c_cflag & CSIZE, tcflag_t(CS8));
    EXPECT_EQ(t.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
    EXPECT_NE(t.c_cflag & CLOCAL, 0u);
    EXPECT_NE(t.c_cflag & CREAD, 0u);
    EXPECT_EQ(t.c_iflag & (IXON | IXOFF | ICRNL | INLCR), 0u);
    EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG), 0u);
    EXPECT_EQ(t.c_oflag & OPOST, 0u);
    line_close(line);
}

TEST_F(pty_test, read_returns_what_came_when_the_total_time_out_passes) {
    serial_line* line = line_open(slave_path.c_str());
    ASSERT_NE(line, nullptr);
    line_set_format(line, 4800);
    line_set_read_timeout(line, 100);
    uint8_t buffer[6] = {};

    EXPECT_EQ(line_read(line, buffer, 1), 0u);

    master_writes("\x01\x02\x03");
    EXPECT_EQ(line_read(line, buffer, 6), 3u);
    EXPECT_EQ(buffer[0], 1);
    EXPECT_EQ(buffer[2], 3);

    master_writes("\x0d\x0a\x11\x13\x00\x7f", 6);
    EXPECT_EQ(line_read(line, buffer, 6), 6u) << "all six, before the time-out";
    EXPECT_EQ(memcmp(buffer, "\x0d\x0a\x11\x13\x00\x7f", 6), 0) << "bytes pass unchanged";
    line_close(line);
}

TEST_F(pty_test, write_sends_the_byte_and_purge_drops_both_directions) {
    serial_line* line = line_open(slave_path.c_str());
    ASSERT_NE(line, nullptr);
    line_set_format(line, 4800);
    line_set_read_timeout(line, 50);
    int packet_mode = 1;
    ASSERT_EQ(ioctl(master, TIOCPKT, &packet_mode), 0);
    unsigned char packet[16];
    pollfd ready = {master, POLLIN, 0};
    while (poll(&ready, 1, 20) > 0 && read(master, packet, sizeof packet) > 0) {
    }

    uint8_t byte = 0xA5;
    EXPECT_EQ(line_write(line, &byte, 1), 1u);
    ASSERT_EQ(read(master, packet, sizeof packet), 2);
    EXPECT_EQ(packet[0], TIOCPKT_DATA);
    EXPECT_EQ(packet[1], 0xA5);

    master_writes("stale");
    usleep(20000);
    line_purge(line);
    ASSERT_EQ(read(master, packet, sizeof packet), 1);
    EXPECT_NE(packet[0] & TIOCPKT_FLUSHREAD, 0);
    uint8_t buffer[8];
    EXPECT_EQ(line_read(line, buffer, 5), 0u) << "what waited in the input is gone";
    line_close(line);
}

TEST_F(pty_test, a_line_whose_peer_went_away_reads_nothing_without_spinning) {
    serial_line* line = line_open(slave_path.c_str());
    ASSERT_NE(line, nullptr);
    line_set_read_timeout(line, 2000);
    close(master);
    master = -1;
    uint8_t buffer[1];

    int64_t start = clock_now_us();
    int reads = 0;
    while (clock_now_us() - start < 400 * 1000) {
        EXPECT_EQ(line_read(line, buffer, 1), 0u);
        EXPECT_EQ(line_write(line, buffer, 1), 0u);
        reads++;
    }

    // Each read of a lost line waits a little, so a loop of them cannot spin; yet far less
    // than the time-out, so a poll ends soon enough for the quit key to be seen.
    EXPECT_LE(reads, int(400 / LOST_LINE_READ_MS) + 1);
    EXPECT_GE(reads, 2);
    line_close(line);
}

// The keyboard reads stdin: the tests put a pty's slave there.
class keyboard_test : public pty_test {
  protected:
    int saved_stdin = -1;

    void SetUp() override {
        make_raw = false;
        pty_test::SetUp();
        int slave = open(slave_path.c_str(), O_RDWR | O_NOCTTY);
        ASSERT_GE(slave, 0);
        saved_stdin = dup(STDIN_FILENO);
        dup2(slave, STDIN_FILENO);
        close(slave);
        keyboard_open();
    }

    void TearDown() override {
        keyboard_close();
        dup2(saved_stdin, STDIN_FILENO);
        close(saved_stdin);
        pty_test::TearDown();
    }

    std::vector<int> keys_read() {
        std::vector<int> codes;
        usleep(10000);
        while (key_waiting()) {
            codes.push_back(key_read());
        }
        return codes;
    }
};

TEST_F(keyboard_test, keys_of_several_codes_come_as_one_code_that_no_action_takes) {
    const struct {
        const char* typed;
        std::vector<int> codes;
    } cases[] = {
        {"q", {'q'}},
        {"Dd", {'D', 'd'}},
        {"\x1b[D", {0x1B}},         // left arrow
        {"\x1b[6~", {0x1B}},        // Page Down
        {"\x1b[1;5D", {0x1B}},      // Ctrl with the left arrow
        {"\x1bOQ", {0x1B}},         // F2
        {"\x1bq", {0x1B}},          // Alt with q
        {"\x1b[Dq", {0x1B, 'q'}},   // an arrow, then a real q
        {"\xc3\xa4", {0xC3, 0xA4}}, // a letter of two bytes in UTF-8
    };
    for (const auto& c : cases) {
        master_writes(c.typed);
        EXPECT_EQ(keys_read(), c.codes) << c.typed;
    }
}

TEST_F(keyboard_test, a_lone_escape_is_taken_at_once) {
    master_writes("\x1b");
    usleep(10000);
    int64_t start = clock_now_us();

    ASSERT_TRUE(key_waiting());
    EXPECT_EQ(key_read(), 0x1B);

    EXPECT_LT(clock_now_us() - start, 500 * 1000) << "not after a second's wait";
    EXPECT_FALSE(key_waiting());
}

TEST_F(keyboard_test, keyboard_mode_has_no_echo_and_no_line_wait_and_keeps_interrupts) {
    termios t;
    ASSERT_EQ(tcgetattr(STDIN_FILENO, &t), 0);
    EXPECT_EQ(t.c_lflag & (ICANON | ECHO), 0u);
    EXPECT_NE(t.c_lflag & ISIG, 0u);

    keyboard_close();
    ASSERT_EQ(tcgetattr(STDIN_FILENO, &t), 0);
    EXPECT_NE(t.c_lflag & ICANON, 0u) << "closing puts the keyboard back";
    keyboard_open();
}
