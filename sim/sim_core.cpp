#include "sim_core.h"

#include <cstdarg>
#include <cstring>

const uint8_t sim_wakeup_answer[SIM_ANSWER_SIZE] = {0x55, 0x76, 0x8A, 0x10, 0x00, 0x01};

const char sim_id_text[SIM_ID_FRAMES][SIM_ID_FRAME_DATA + 1] = {
    "1000000001",
    "ECU  SIM  ",
    "V1.0 4800 ",
};

constexpr uint8_t OVERSIZE_LENGTH = 0x20;
constexpr int BROKEN_FRAME_BYTES = 6; // length, counter, title and three data bytes
static const uint8_t garbage_bytes[] = {0x5A, 0xA5, 0x00, 0xFF, 0x81, 0x7E, 0x13, 0x37};

static void vtrace(sim_state* s, const char* prefix, const char* format, va_list args) {
    if (!s->trace) {
        return;
    }
    fprintf(s->trace, "%12.6f  %s", (double)s->now_us / 1e6, prefix);
    vfprintf(s->trace, format, args);
    fputc('\n', s->trace);
}

static void trace(sim_state* s, const char* format, ...) {
    va_list args;
    va_start(args, format);
    vtrace(s, "", format, args);
    va_end(args);
}

static void fail(sim_state* s, const char* format, ...) {
    s->failures++;
    va_list args;
    va_start(args, format);
    vtrace(s, "CHECK FAILED: ", format, args);
    va_end(args);
    if (s->report) {
        va_start(args, format);
        fprintf(s->report, "quelmar-sim: check failed: ");
        vfprintf(s->report, format, args);
        fputc('\n', s->report);
        va_end(args);
    }
}

static void emit(sim_output* out, uint8_t value, sim_out_kind kind) {
    if (out->count < SIM_OUT_MAX) {
        out->bytes[out->count++] = {value, kind};
    }
}

const char* sim_title_name(uint8_t title) {
    switch (title) {
    case SIM_TITLE_READ_RAM:
        return "READ_RAM";
    case SIM_TITLE_CLEAR_ERRORS:
        return "CLEAR_ERRORS";
    case SIM_TITLE_READ_ERRORS:
        return "READ_ERRORS";
    case SIM_TITLE_ACK:
        return "ACK";
    case SIM_TITLE_RECORDS:
        return "ERROR_RECORDS";
    case SIM_TITLE_RAM_DATA:
        return "RAM_DATA";
    case SIM_TITLE_ID_TEXT:
        return "ID_TEXT";
    default:
        return "UNKNOWN";
    }
}

static void trace_frame(sim_state* s, const char* who, const uint8_t* frame, int size,
                        const char* checks) {
    if (!s->trace) {
        return;
    }
    char data[3 * SIM_FRAME_MAX + 1] = "";
    int used = 0;
    for (int i = 3; i < size - 1 && used < (int)sizeof data - 4; i++) {
        used += snprintf(data + used, sizeof data - used, " %02X", frame[i]);
    }
    trace(s, "frame %s: len %02X cnt %02X %s data[%d]%s end %02X | %s", who, frame[0], frame[1],
          sim_title_name(frame[2]), size > 4 ? size - 4 : 0, data, frame[size - 1], checks);
}

void sim_init(sim_state* s, const sim_config* config) {
    FILE* trace_file = s->trace;
    FILE* report = s->report;
    memset(s, 0, sizeof *s);
    s->trace = trace_file;
    s->report = report;
    s->config = *config;
    memcpy(s->ram, config->ram, sizeof s->ram);
    memcpy(s->memory, config->memory, sizeof s->memory);
    s->memory_count = config->memory_count;
    s->phase = config->silent ? PHASE_MUTE : PHASE_WAIT_FLUSH;
}

void sim_set_ram(sim_state* s, int address, uint8_t value) {
    int i = address - SIM_RAM_BASE;
    if (i >= 0 && i < SIM_RAM_SIZE && !s->config.ram_frozen[i]) {
        s->ram[i] = value;
    }
}

bool sim_waiting(const sim_state* s) {
    return s->link != LINK_IDLE;
}

void sim_on_tool_gone(sim_state* s) {
    if (s->phase == PHASE_WAKEUP_COMPLEMENT) {
        fail(s, "the tool went away without the complement of the third answer byte");
    }
    trace(s, "the tool closed the line");
    s->phase = s->config.silent ? PHASE_MUTE : PHASE_WAIT_FLUSH;
    s->link = LINK_IDLE;
}

// Starts a frame: the caller has put counter, title and data into tx[1..]; size is the number
// of bytes on the wire, end byte included.
static void start_frame(sim_state* s, sim_output* out, int size, sim_tx_purpose purpose) {
    s->tx_size = size;
    s->tx[size - 1] = SIM_FRAME_END;
    if (s->tx[0] == 0) {
        s->tx[0] = (uint8_t)(size - 1);
    }
    if (s->tx_stop == 0) {
        s->tx_stop = size;
    }
    s->tx_purpose = purpose;
    s->tx_pos = 1;
    s->counter = s->tx[1];
    s->link = LINK_TX;
    emit(out, s->tx[0], OUT_FRAME_FIRST);
}

static void prepare_frame(sim_state* s, uint8_t counter, uint8_t title) {
    memset(s->tx, 0, sizeof s->tx);
    s->tx[1] = counter;
    s->tx[2] = title;
    s->tx_stop = 0;
    s->tx_injected = false;
    s->tx_wrong_complements = 0;
}

static void send_empty_frame(sim_state* s, sim_output* out, uint8_t counter, uint8_t title,
                             sim_tx_purpose purpose) {
    prepare_frame(s, counter, title);
    start_frame(s, out, 4, purpose);
}

static void send_id_frame(sim_state* s, sim_output* out, uint8_t counter) {
    prepare_frame(s, counter, SIM_TITLE_ID_TEXT);
    if (s->config.fault_poll[FAULT_ENDLESS_ID]) {
        start_frame(s, out, 4, TX_ID);
    } else {
        memcpy(s->tx + 3, sim_id_text[s->id_frames_sent], SIM_ID_FRAME_DATA);
        start_frame(s, out, SIM_ID_FRAME_DATA + 4, TX_ID);
    }
    s->id_frames_sent++;
}

static void start_wakeup(sim_state* s, sim_output* out) {
    s->phase = PHASE_WAKEUP_COMPLEMENT;
    s->link = LINK_IDLE;
    s->counter = 0;
    s->counter_unknown = false;
    s->ack_expected = false;
    s->id_frames_sent = 0;
    s->read_ram_count = 0;
    s->polls_served = 0;
    s->memory_cursor = 0;
    memset(s->poll_fault_done, 0, sizeof s->poll_fault_done);
    for (int i = 0; i < SIM_ANSWER_SIZE; i++) {
        emit(out, sim_wakeup_answer[i], i == 0 ? OUT_WAKEUP_FIRST : OUT_WAKEUP_NEXT);
    }
    trace(s, "wake-up answer sent: %02X %02X %02X %02X %02X %02X", sim_wakeup_answer[0],
          sim_wakeup_answer[1], sim_wakeup_answer[2], sim_wakeup_answer[3], sim_wakeup_answer[4],
          sim_wakeup_answer[5]);
}

void sim_on_flush(sim_state* s, sim_output* out) {
    if (s->config.silent) {
        trace(s, "flush seen: the ECU is silent, no answer");
        return;
    }
    trace(s, "flush seen: the tool ended its wake-up");
    start_wakeup(s, out);
}

// True when this request is the first one of poll N of an armed poll fault.
static bool poll_fault_due(sim_state* s, sim_fault fault) {
    int poll = (s->read_ram_count + 1) / 2;
    bool window_a = s->read_ram_count % 2 == 1;
    return s->config.fault_poll[fault] == poll && window_a && !s->poll_fault_done[fault];
}

static void reply_read_ram(sim_state* s, sim_output* out, uint8_t counter) {
    int count = s->rx[3];
    int address = s->rx[4] << 8 | s->rx[5];
    if (count > 12) {
        fail(s, "read-RAM asks for %d bytes: a reply frame carries 12 at most", count);
        count = 12;
    }
    bool window_a = s->read_ram_count % 2 == 1;
    if (window_a) {
        s->polls_served++;
    }
    prepare_frame(s, counter, SIM_TITLE_RAM_DATA);
    int data = count;
    if (poll_fault_due(s, FAULT_OVERSIZE_LENGTH)) {
        s->poll_fault_done[FAULT_OVERSIZE_LENGTH] = true;
        data = OVERSIZE_LENGTH - 3;
        trace(s, "fault injected: oversize length byte %02X", OVERSIZE_LENGTH);
        s->tx_injected = true;
    }
    for (int i = 0; i < data; i++) {
        int at = address + i - SIM_RAM_BASE;
        s->tx[3 + i] = at >= 0 && at < SIM_RAM_SIZE ? s->ram[at] : 0;
    }
    if (poll_fault_due(s, FAULT_BROKEN_FRAME)) {
        s->poll_fault_done[FAULT_BROKEN_FRAME] = true;
        s->tx_stop = BROKEN_FRAME_BYTES;
        s->tx_injected = true;
        trace(s, "fault injected: the reply breaks off after %d bytes", BROKEN_FRAME_BYTES);
    }
    start_frame(s, out, data + 4, TX_REPLY);
}

static void reply_read_errors(sim_state* s, sim_output* out, uint8_t counter) {
    bool endless = s->config.fault_poll[FAULT_ENDLESS_ERRORS] != 0;
    if (endless && s->memory_cursor >= s->memory_count) {
        s->memory_cursor = 0;
    }
    int left = s->memory_count - s->memory_cursor;
    if (endless && left == 0) {
        // An empty memory still needs a record to repeat.
        prepare_frame(s, counter, SIM_TITLE_RECORDS);
        s->tx[3] = 0x01;
        s->tx[7] = 0x01;
        start_frame(s, out, 9, TX_RECORDS);
        return;
    }
    if (left == 0) {
        s->memory_cursor = 0;
        send_empty_frame(s, out, counter, SIM_TITLE_ACK, TX_REPLY);
        return;
    }
    int records = left >= 2 ? 2 : 1;
    prepare_frame(s, counter, SIM_TITLE_RECORDS);
    for (int r = 0; r < records; r++) {
        memcpy(s->tx + 3 + 5 * r, &s->memory[s->memory_cursor + r], 5);
    }
    s->memory_cursor += records;
    start_frame(s, out, 4 + 5 * records, TX_RECORDS);
}

static void serve_request(sim_state* s, sim_output* out, uint8_t counter) {
    uint8_t title = s->rx[2];
    int data = s->rx_count - 4;
    bool ack_expected = s->ack_expected;
    s->ack_expected = false;
    if (title != SIM_TITLE_READ_ERRORS && title != SIM_TITLE_ACK) {
        s->memory_cursor = 0; // any other request ends a collection
    }
    if (ack_expected && title != SIM_TITLE_ACK) {
        fail(s, "the record frame was not acknowledged (got %s)", sim_title_name(title));
    }
    switch (title) {
    case SIM_TITLE_READ_RAM:
        if (data != 3) {
            fail(s, "read-RAM with %d data bytes, not 3", data);
            send_empty_frame(s, out, counter, SIM_TITLE_ACK, TX_REPLY);
            return;
        }
        if (poll_fault_due(s, FAULT_GARBAGE)) {
            s->poll_fault_done[FAULT_GARBAGE] = true;
            s->polls_served++;
            s->counter_unknown = true;
            s->link = LINK_LOST;
            for (uint8_t b : garbage_bytes) {
                emit(out, b, OUT_GARBAGE);
            }
            trace(s, "fault injected: garbage in place of the reply");
            return;
        }
        reply_read_ram(s, out, counter);
        return;
    case SIM_TITLE_READ_ERRORS:
        reply_read_errors(s, out, counter);
        return;
    case SIM_TITLE_CLEAR_ERRORS:
        trace(s, "error memory cleared (%d records)", s->memory_count);
        s->memory_count = 0;
        s->memory_cursor = 0;
        send_empty_frame(s, out, counter, SIM_TITLE_ACK, TX_REPLY);
        return;
    case SIM_TITLE_ACK:
        if (!ack_expected) {
            fail(s, "acknowledge with no record frame to acknowledge");
        }
        // The ECU does not answer an acknowledge: the tool asks again at once, with the same
        // counter, since it received nothing in between.
        return;
    default:
        fail(s, "request with unknown title %02X", title);
        send_empty_frame(s, out, counter, SIM_TITLE_ACK, TX_REPLY);
        return;
    }
}

static void serve_ident(sim_state* s, sim_output* out, uint8_t counter) {
    if (s->rx[2] != SIM_TITLE_ACK) {
        fail(s, "identification frame answered with %s, not ACK", sim_title_name(s->rx[2]));
    }
    if (s->config.fault_poll[FAULT_ENDLESS_ID] || s->id_frames_sent < SIM_ID_FRAMES) {
        send_id_frame(s, out, counter);
    } else {
        send_empty_frame(s, out, counter, SIM_TITLE_ACK, TX_ID_END);
    }
}

static void frame_received(sim_state* s, sim_output* out) {
    s->frames_received++;
    s->link = LINK_IDLE;
    uint8_t* f = s->rx;
    int size = s->rx_count;
    uint8_t expected = (uint8_t)(s->counter + 1);
    char checks[96];
    if (s->counter_unknown) {
        snprintf(checks, sizeof checks, "counter taken as it comes (after a fault)");
    } else {
        snprintf(checks, sizeof checks, "counter %s", f[1] == expected ? "ok" : "WRONG");
    }
    if (f[size - 1] != SIM_FRAME_END) {
        strncat(checks, ", end byte WRONG", sizeof checks - strlen(checks) - 1);
    }
    trace_frame(s, "tool", f, size, checks);
    if (f[size - 1] != SIM_FRAME_END) {
        fail(s, "end byte %02X, not %02X", f[size - 1], SIM_FRAME_END);
    }
    if (!s->counter_unknown && f[1] != expected) {
        fail(s, "the tool's counter is %02X, the ECU expected %02X", f[1], expected);
    }
    s->counter_unknown = false;
    // Follow the tool's count, so that one wrong counter is reported once and not ever after.
    s->counter = (uint8_t)(f[1] - 1);
    uint8_t reply_counter = (uint8_t)(f[1] + 1);
    if (size < 4) {
        fail(s, "frame with length byte %02X has no title", f[0]);
        return;
    }
    if (f[2] == SIM_TITLE_READ_RAM) {
        s->read_ram_count++;
    }
    if (s->phase == PHASE_IDENT) {
        serve_ident(s, out, reply_counter);
    } else {
        serve_request(s, out, reply_counter);
    }
}

// After a reply the ECU may fall silent: the stop-after scenario.
static void maybe_stop_answering(sim_state* s) {
    int n = s->config.stop_after_polls;
    if (n > 0 && s->polls_served >= n && s->read_ram_count % 2 == 0) {
        s->phase = PHASE_MUTE;
        trace(s, "the ECU stops answering after %d polls", s->polls_served);
    }
}

static void frame_sent(sim_state* s) {
    s->link = LINK_IDLE;
    char checks[64];
    snprintf(checks, sizeof checks, "%s, %d wrong complements",
             s->tx_injected ? "fault injected" : "sent", s->tx_wrong_complements);
    trace_frame(s, "ecu", s->tx, s->tx_size, checks);
    if (s->tx_injected) {
        s->counter_unknown = true;
    }
    switch (s->tx_purpose) {
    case TX_ID_END:
        s->phase = PHASE_RUN;
        trace(s, "identification done");
        break;
    case TX_RECORDS:
        s->ack_expected = true;
        break;
    case TX_REPLY:
        maybe_stop_answering(s);
        break;
    case TX_ID:
        break;
    }
}

static void tx_complement(sim_state* s, uint8_t byte, sim_output* out) {
    uint8_t sent = s->tx[s->tx_pos - 1];
    if (byte != (uint8_t)(sent ^ 0xFF)) {
        s->tx_wrong_complements++;
        if (s->tx_injected) {
            trace(s, "complement of byte %d is %02X, not %02X (after an injected fault)",
                  s->tx_pos - 1, byte, sent ^ 0xFF);
        } else {
            fail(s, "complement of byte %d (%02X) is %02X, not %02X", s->tx_pos - 1, sent, byte,
                 sent ^ 0xFF);
        }
    }
    if (s->tx_pos >= s->tx_stop && s->tx_stop < s->tx_size) {
        s->link = LINK_IDLE;
        s->counter_unknown = true;
        trace(s, "frame broken off after %d bytes", s->tx_pos);
        maybe_stop_answering(s);
        return;
    }
    emit(out, s->tx[s->tx_pos], OUT_FRAME_NEXT);
    s->tx_pos++;
    if (s->tx_pos == s->tx_size) {
        frame_sent(s);
    }
}

static uint8_t complement_for(sim_state* s, uint8_t byte) {
    uint8_t good = byte ^ 0xFF;
    bool title = s->rx_count == 3;
    if (title && s->phase == PHASE_RUN && byte == SIM_TITLE_READ_RAM) {
        s->read_ram_count++; // counted early so that the poll fault can hit this very byte
        bool due = poll_fault_due(s, FAULT_WRONG_COMPLEMENT);
        s->read_ram_count--;
        if (due) {
            s->poll_fault_done[FAULT_WRONG_COMPLEMENT] = true;
            trace(s, "fault injected: wrong complement %02X for the title byte", good ^ 0x80);
            return good ^ 0x80;
        }
    }
    return good;
}

static void rx_byte(sim_state* s, uint8_t byte, sim_output* out) {
    if (s->link == LINK_IDLE) {
        s->rx_count = 0;
        s->link = LINK_RX;
    }
    s->rx[s->rx_count++] = byte;
    int length = s->rx[0];
    if (length == 0) {
        fail(s, "frame with length byte 00");
        emit(out, 0xFF, OUT_COMPLEMENT);
        s->link = LINK_LOST;
        return;
    }
    if (s->rx_count - 1 < length) {
        emit(out, complement_for(s, byte), OUT_COMPLEMENT);
        if (s->rx_count == SIM_FRAME_MAX - 1) {
            fail(s, "frame longer than %d bytes", SIM_FRAME_MAX - 1);
            s->link = LINK_LOST;
        }
        return;
    }
    frame_received(s, out); // the end byte is not answered
}

void sim_on_byte(sim_state* s, uint8_t byte, sim_output* out) {
    emit(out, byte, OUT_ECHO);
    switch (s->phase) {
    case PHASE_WAIT_FLUSH:
    case PHASE_MUTE:
        return;
    case PHASE_WAKEUP_COMPLEMENT: {
        uint8_t expected = sim_wakeup_answer[2] ^ 0xFF;
        if (byte == expected) {
            trace(s, "complement of the third answer byte ok (%02X)", byte);
        } else {
            fail(s, "complement of the third answer byte is %02X, not %02X", byte, expected);
        }
        s->phase = PHASE_IDENT;
        send_id_frame(s, out, 0x01);
        return;
    }
    case PHASE_IDENT:
    case PHASE_RUN:
        break;
    }
    switch (s->link) {
    case LINK_TX:
        tx_complement(s, byte, out);
        return;
    case LINK_IDLE:
    case LINK_RX:
        rx_byte(s, byte, out);
        return;
    case LINK_LOST:
        return;
    }
}

void sim_on_silence(sim_state* s, sim_output* out) {
    (void)out;
    switch (s->link) {
    case LINK_RX:
        fail(s, "the tool's frame broke off after %d bytes", s->rx_count);
        break;
    case LINK_TX:
        if (s->tx_injected) {
            trace(s, "no complement for byte %d of the faulty frame: the tool gave up",
                  s->tx_pos - 1);
        } else {
            fail(s, "no complement for byte %d (%02X) of the ECU's frame", s->tx_pos - 1,
                 s->tx[s->tx_pos - 1]);
        }
        s->counter_unknown = true;
        break;
    case LINK_LOST:
        trace(s, "line quiet: listening for frames again");
        break;
    case LINK_IDLE:
        break;
    }
    s->link = LINK_IDLE;
}
