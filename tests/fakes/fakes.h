#pragma once
// The test doubles of the platform layer: a scripted serial line, a screen of cells, a key
// queue and a virtual clock. Linked in place of the OS's implementation, so that the system's
// code runs unchanged and a 2000 ms time-out takes no real time.
#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <vector>

// --- virtual clock -----------------------------------------------------------------------
void fake_clock_reset();
// Moves virtual time on, as a blocking wait would.
void fake_clock_advance_us(int64_t us);

// --- serial line -------------------------------------------------------------------------
enum class line_event_kind {
    open,
    set_format,
    set_timeout,
    write,
    read,
    break_on,
    break_off,
    purge,
    close
};

struct line_event {
    line_event_kind kind;
    int64_t at_us;
    uint32_t value; // write: the byte; read: bytes asked for; set_format: baud; set_timeout: ms
    uint32_t got;   // read: bytes delivered
};

struct fake_line_state {
    bool open_fails = false;
    bool echo = true; // the K-line echoes every byte written
    std::string opened_name;
    std::deque<uint8_t> incoming; // what the tool's next reads take, in order
    std::vector<line_event> events;
    std::vector<uint8_t> written;
    // The other end: sees every byte the tool writes, after its echo is queued.
    std::function<void(uint8_t)> on_write;
    std::function<void()> on_purge;
};

extern fake_line_state fake_line;
void fake_line_reset();
void fake_line_queue(std::initializer_list<uint8_t> bytes);
void fake_line_queue_byte(uint8_t byte);
std::vector<line_event> fake_line_events(line_event_kind kind);

// --- screen --------------------------------------------------------------------------------
struct screen_cell {
    char ch;
    uint16_t attribute;
};

struct screen_write {
    int column, row; // where the text began
    uint16_t attribute;
    std::string text;
    int64_t at_us;
};

struct fake_screen_state {
    bool no_console = false; // console_open reports no console
    bool open = false;
    bool closed = false;
    std::string title;
    screen_cell cells[25][80];
    int column = 0;
    int row = 0;
    uint16_t attribute = 7;
    std::string output; // every text written, in order
    std::vector<screen_write> writes;
};

extern fake_screen_state fake_screen;
// A screen of ' ' in attribute 7, cursor at the top left.
void fake_screen_reset();
void fake_screen_fill(char ch, uint16_t attribute);
std::string fake_screen_row(int row);
// The text from column for length cells of row.
std::string fake_screen_text(int column, int row, int length);
uint16_t fake_screen_attribute(int column, int row);

// --- keyboard --------------------------------------------------------------------------------
void fake_keys_reset();
void fake_keys_push(std::initializer_list<int> codes);
void fake_keys_push_text(const char* text);
bool fake_keys_empty();
// Keys that arrive just before the n-th look at the keyboard (1 = the first pass of the loop).
void fake_keys_at_pass(int pass, std::initializer_list<int> codes);
// How often the keyboard was looked at.
int fake_keys_passes();
