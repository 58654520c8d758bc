// The Win32 platform layer on a real (or Wine's) serial port. QUELMAR_TEST_PORT names a port
// whose other end echoes every byte; QUELMAR_TEST_LOST_PORT one whose device has gone.
#include "platform/clock.h"
#include "platform/serial_line.h"
#include "platform/win32/win32_keys.h"
#include "platform/win32/win32_serial_line.h"

#include <cstdlib>
#include <deque>
#include <gtest/gtest.h>
#include <vector>

TEST(win32_serial, a_port_that_does_not_exist_is_not_opened) {
    EXPECT_EQ(line_open("\\\\.\\com199"), nullptr);
}

class win32_echo_port : public ::testing::Test {
  protected:
    void SetUp() override {
        const char* name = getenv("QUELMAR_TEST_PORT");
        if (name == nullptr) {
            GTEST_SKIP() << "QUELMAR_TEST_PORT names no echoing port";
        }
        line = line_open(name);
        ASSERT_NE(line, nullptr) << name;
    }
    void TearDown() override {
        if (line != nullptr) {
            line_close(line);
        }
    }
    std::vector<uint8_t> read_bytes(uint32_t count, uint32_t timeout_ms) {
        line_set_read_timeout(line, timeout_ms);
        std::vector<uint8_t> got(count);
        got.resize(line_read(line, got.data(), count));
        return got;
    }
    serial_line* line = nullptr;
};

TEST_F(win32_echo_port, the_format_sets_every_listed_field_and_keeps_the_rest) {
    // Start from a driver state where every listed field is wrong.
    DCB odd = {};
    odd.DCBlength = sizeof odd;
    ASSERT_TRUE(GetCommState(line->handle, &odd));
    odd.BaudRate = 9600;
    odd.ByteSize = 7;
    odd.Parity = EVENPARITY;
    odd.StopBits = TWOSTOPBITS;
    odd.fParity = TRUE;
    odd.fOutxCtsFlow = TRUE;
    odd.fDtrControl = DTR_CONTROL_ENABLE;
    odd.fRtsControl = RTS_CONTROL_ENABLE;
    odd.fOutX = TRUE;
    odd.fInX = TRUE;
    ASSERT_TRUE(SetCommState(line->handle, &odd));
    DCB driver = {};
    driver.DCBlength = sizeof driver;
    ASSERT_TRUE(GetCommState(line->handle, &driver));

    line_set_format(line, 4800);

    DCB now = {};
    now.DCBlength = sizeof now;
    ASSERT_TRUE(GetCommState(line->handle, &now));
    EXPECT_EQ(now.BaudRate, 4800u);
    EXPECT_EQ(now.ByteSize, 8);
    EXPECT_EQ(now.Parity, NOPARITY);
    EXPECT_EQ(now.StopBits, ONESTOPBIT);
    EXPECT_FALSE(now.fParity);
    EXPECT_FALSE(now.fOutxCtsFlow);
    EXPECT_FALSE(now.fOutxDsrFlow);
    EXPECT_FALSE(now.fOutX);
    EXPECT_FALSE(now.fInX);
    // The record applied. (Wine reports the modem-line controls of a pty, which has no modem
    // lines, as enabled whatever was set, so they are checked here only.)
    EXPECT_EQ(port_settings.BaudRate, 4800u);
    EXPECT_TRUE(port_settings.fBinary);
    EXPECT_FALSE(port_settings.fParity);
    EXPECT_FALSE(port_settings.fOutxCtsFlow);
    EXPECT_FALSE(port_settings.fOutxDsrFlow);
    EXPECT_EQ(port_settings.fDtrControl, unsigned(DTR_CONTROL_DISABLE));
    EXPECT_FALSE(port_settings.fDsrSensitivity);
    EXPECT_TRUE(port_settings.fTXContinueOnXoff);
    EXPECT_FALSE(port_settings.fOutX);
    EXPECT_FALSE(port_settings.fInX);
    EXPECT_FALSE(port_settings.fErrorChar);
    EXPECT_FALSE(port_settings.fNull);
    EXPECT_EQ(port_settings.fRtsControl, unsigned(RTS_CONTROL_DISABLE));
    EXPECT_FALSE(port_settings.fAbortOnError);
    EXPECT_EQ(port_settings.ByteSize, 8);
    EXPECT_EQ(port_settings.Parity, NOPARITY);
    EXPECT_EQ(port_settings.StopBits, ONESTOPBIT);
    // Fields the tool does not set stay as the driver had them.
    EXPECT_EQ(port_settings.DCBlength, driver.DCBlength);
    EXPECT_EQ(port_settings.XonChar, driver.XonChar);
    EXPECT_EQ(port_settings.XoffChar, driver.XoffChar);
    EXPECT_EQ(port_settings.XonLim, driver.XonLim);
    EXPECT_EQ(port_settings.XoffLim, driver.XoffLim);
    EXPECT_EQ(port_settings.EofChar, driver.EofChar);
    EXPECT_EQ(port_settings.ErrorChar, driver.ErrorChar);
    EXPECT_EQ(port_settings.EvtChar, driver.EvtChar);
    EXPECT_EQ(now.XonChar, driver.XonChar);
    EXPECT_EQ(now.XoffChar, driver.XoffChar);
}

TEST_F(win32_echo_port, the_read_timeout_changes_only_the_total_constant) {
    COMMTIMEOUTS odd = {7, 3, 1000, 5, 11};
    ASSERT_TRUE(SetCommTimeouts(line->handle, &odd));

    line_set_read_timeout(line, 2000);

    COMMTIMEOUTS now = {};
    ASSERT_TRUE(GetCommTimeouts(line->handle, &now));
    EXPECT_EQ(now.ReadTotalTimeoutConstant, 2000u);
    EXPECT_EQ(now.ReadIntervalTimeout, 7u);
    EXPECT_EQ(now.ReadTotalTimeoutMultiplier, 3u);
    EXPECT_EQ(now.WriteTotalTimeoutMultiplier, 5u);
    EXPECT_EQ(now.WriteTotalTimeoutConstant, 11u);
}

TEST_F(win32_echo_port, reads_take_what_came_and_report_the_count) {
    line_set_format(line, 4800);
    const uint8_t sent[] = {0x10, 0xEF, 0x03};
    ASSERT_EQ(line_write(line, sent, 3), 3u);
    // Six asked for, three come: the read ends at its time-out with those three.
    EXPECT_EQ(read_bytes(6, 300), (std::vector<uint8_t>{0x10, 0xEF, 0x03}));
    // Nothing comes: nothing is reported.
    EXPECT_TRUE(read_bytes(1, 100).empty());
}

TEST_F(win32_echo_port, a_purge_drops_the_bytes_waiting) {
    line_set_format(line, 4800);
    const uint8_t sent[] = {0x55, 0xAA};
    ASSERT_EQ(line_write(line, sent, 2), 2u);
    sleep_ms(200); // the echo is back by now
    line_purge(line);
    EXPECT_TRUE(read_bytes(1, 100).empty());
    // The line still works after a purge and a break.
    line_break_on(line);
    line_break_off(line);
    ASSERT_EQ(line_write(line, sent, 1), 1u);
    EXPECT_EQ(read_bytes(1, 1000), (std::vector<uint8_t>{0x55}));
}

TEST(win32_serial, a_line_whose_device_has_gone_reads_and_writes_nothing) {
    const char* name = getenv("QUELMAR_TEST_LOST_PORT");
    if (name == nullptr) {
        GTEST_SKIP() << "QUELMAR_TEST_LOST_PORT names no port whose device has gone";
    }
    serial_line* line = line_open(name);
    if (line == nullptr) {
        GTEST_SKIP() << "this system refuses to open a port whose device has gone";
    }
    line_set_format(line, 4800);
    line_set_read_timeout(line, 2000);
    uint8_t buffer[6] = {};
    EXPECT_EQ(line_read(line, buffer, 6), 0u);
    EXPECT_EQ(line_read(line, buffer, 1), 0u);
    const uint8_t byte = 0x10;
    EXPECT_EQ(line_write(line, &byte, 1), 0u);
    line_close(line);
}

TEST(win32_clock, a_sleep_never_ends_before_its_deadline) {
    for (int64_t wait_us : {0, 300, 1500, 2500, 16000, 40000}) {
        int64_t deadline = clock_now_us() + wait_us;
        sleep_until_us(deadline);
        EXPECT_GE(clock_now_us(), deadline) << wait_us;
    }
}

static std::deque<int> console_codes;

static int next_console_code() {
    int code = console_codes.front();
    console_codes.pop_front();
    return code;
}

// The keys one by one, as the program's loop takes them.
static std::vector<int> keys_from(std::initializer_list<int> codes) {
    console_codes.assign(codes);
    std::vector<int> keys;
    while (!console_codes.empty()) {
        int first = next_console_code();
        keys.push_back(key_from_codes(first, next_console_code));
    }
    return keys;
}

TEST(win32_keyboard, a_two_code_key_never_passes_for_the_letter_of_its_scan_code) {
    struct {
        std::initializer_list<int> codes;
        std::vector<int> keys;
    } cases[] = {
        {{0x00, 0x44, 'x'}, {0x00, 'x'}},             // F10: "D" as scan code
        {{0xE0, 0x51, 'x'}, {0xE0, 'x'}},             // Page Down: "Q"
        {{0xE0, 0x71}, {0xE0}},                       // "q" as scan code
        {{0x00, 0x64, 0xE0, 0x44}, {0x00, 0xE0}},     // "d", then "D", as scan codes
        {{'D', 'd', 'q', 'Q'}, {'D', 'd', 'q', 'Q'}}, // the letters themselves
    };
    for (const auto& c : cases) {
        EXPECT_EQ(keys_from(c.codes), c.keys);
    }
}
