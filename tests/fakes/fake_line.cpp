#include "platform/clock.h"
#include "platform/serial_line.h"
#include "tests/fakes/fakes.h"

struct serial_line {
    uint32_t read_timeout_ms;
};

static serial_line the_line;
fake_line_state fake_line;

void fake_line_reset() {
    fake_line = fake_line_state{};
}

void fake_line_queue(std::initializer_list<uint8_t> bytes) {
    for (uint8_t byte : bytes) {
        fake_line.incoming.push_back(byte);
    }
}

void fake_line_queue_byte(uint8_t byte) {
    fake_line.incoming.push_back(byte);
}

std::vector<line_event> fake_line_events(line_event_kind kind) {
    std::vector<line_event> found;
    for (const line_event& event : fake_line.events) {
        if (event.kind == kind) {
            found.push_back(event);
        }
    }
    return found;
}

static void log_event(line_event_kind kind, uint32_t value, uint32_t got = 0) {
    fake_line.events.push_back(line_event{kind, clock_now_us(), value, got});
}

serial_line* line_open(const char* device_name) {
    fake_line.opened_name = device_name;
    if (fake_line.open_fails) {
        return nullptr;
    }
    log_event(line_event_kind::open, 0);
    the_line.read_timeout_ms = 0;
    return &the_line;
}

void line_set_format(serial_line*, uint32_t baud_rate) {
    log_event(line_event_kind::set_format, baud_rate);
}

void line_set_read_timeout(serial_line* line, uint32_t total_ms) {
    line->read_timeout_ms = total_ms;
    log_event(line_event_kind::set_timeout, total_ms);
}

uint32_t line_read(serial_line* line, uint8_t* destination, uint32_t count) {
    uint32_t got = 0;
    while (got < count && !fake_line.incoming.empty()) {
        destination[got++] = fake_line.incoming.front();
        fake_line.incoming.pop_front();
    }
    if (got < count) {
        fake_clock_advance_us(int64_t(line->read_timeout_ms) * 1000); // the time-out passes
    }
    log_event(line_event_kind::read, count, got);
    return got;
}

uint32_t line_write(serial_line*, const uint8_t* source, uint32_t count) {
    for (uint32_t i = 0; i < count; i++) {
        log_event(line_event_kind::write, source[i]);
        fake_line.written.push_back(source[i]);
        if (fake_line.echo) {
            fake_line.incoming.push_back(source[i]);
        }
        if (fake_line.on_write) {
            fake_line.on_write(source[i]);
        }
    }
    return count;
}

void line_break_on(serial_line*) {
    log_event(line_event_kind::break_on, 0);
}

void line_break_off(serial_line*) {
    log_event(line_event_kind::break_off, 0);
}

void line_purge(serial_line*) {
    log_event(line_event_kind::purge, 0);
    fake_line.incoming.clear();
    if (fake_line.on_purge) {
        fake_line.on_purge();
    }
}

void line_close(serial_line*) {
    log_event(line_event_kind::close, 0);
}
