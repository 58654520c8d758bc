// The ECU's side of the K-line, as a byte-in, bytes-out state machine.
//
// Principles of operation:
// - The caller feeds every event on the line: a byte the tool wrote (sim_on_byte), the tool's
//   purge at the end of its wake-up (sim_on_flush), and a quiet line while the ECU waits for the
//   tool (sim_on_silence). Each call appends what the ECU puts on the line to a sim_output.
// - Every byte the tool writes comes back to it as the K-line echo: the first byte of every
//   sim_on_byte output is that echo, before anything the ECU sends in reaction.
// - The core knows no clock: each output byte carries a kind, and the caller turns kinds into
//   delays (sim_pacing.h). The caller sets now_us before each call for the trace only.
// - A failed check of the tool's behaviour is counted in `failures`, written to the trace and
//   to `report`; faults the ECU injects on purpose are traced but never counted.
#pragma once

#include <cstdint>
#include <cstdio>

constexpr int SIM_RAM_BASE = 0x2000;
constexpr int SIM_RAM_SIZE = 256;
constexpr int SIM_MEMORY_SIZE = 32;
constexpr int SIM_OUT_MAX = 16;
constexpr int SIM_FRAME_MAX = 130;
constexpr int SIM_ANSWER_SIZE = 6;

constexpr uint8_t SIM_TITLE_READ_RAM = 0x01;
constexpr uint8_t SIM_TITLE_CLEAR_ERRORS = 0x05;
constexpr uint8_t SIM_TITLE_READ_ERRORS = 0x07;
constexpr uint8_t SIM_TITLE_ACK = 0x09;
constexpr uint8_t SIM_TITLE_RECORDS = 0xFC;
constexpr uint8_t SIM_TITLE_RAM_DATA = 0xFE;
constexpr uint8_t SIM_TITLE_ID_TEXT = 0xF6;
constexpr uint8_t SIM_FRAME_END = 0x03;

// The six bytes with which the ECU answers its address; the tool complements the third.
extern const uint8_t sim_wakeup_answer[SIM_ANSWER_SIZE];
// The identification text, three frames of ten ASCII bytes.
constexpr int SIM_ID_FRAMES = 3;
constexpr int SIM_ID_FRAME_DATA = 10;
extern const char sim_id_text[SIM_ID_FRAMES][SIM_ID_FRAME_DATA + 1];

// Injected line faults. The poll faults hit the first request of poll N (the read of the window
// at 0x2000), once; the endless ones last for the whole session.
enum sim_fault {
    FAULT_WRONG_COMPLEMENT, // the ECU answers the request's title byte with a wrong complement
    FAULT_BROKEN_FRAME,     // the reply breaks off after its third data byte
    FAULT_OVERSIZE_LENGTH,  // the reply announces length 0x20 and sends all 32 bytes
    FAULT_GARBAGE,          // unframed bytes in place of the reply
    FAULT_ENDLESS_ERRORS,   // read-errors always gets a record frame, never the 0x09 frame
    FAULT_ENDLESS_ID,       // identification frames of length 3, forever
    FAULT_KINDS
};

enum sim_out_kind : uint8_t {
    OUT_ECHO,
    OUT_COMPLEMENT,
    OUT_WAKEUP_FIRST,
    OUT_WAKEUP_NEXT,
    OUT_FRAME_FIRST,
    OUT_FRAME_NEXT,
    OUT_GARBAGE,
};

struct sim_out_byte {
    uint8_t value;
    uint8_t kind;
};

struct sim_output {
    sim_out_byte bytes[SIM_OUT_MAX];
    int count;
};

struct sim_error_record {
    uint8_t code;
    uint8_t status;
    uint8_t byte_2;
    uint8_t byte_3;
    uint8_t value;
};

// The scenario: fixed for the whole run.
struct sim_config {
    bool silent;                 // echo only: the adapter is there, the ECU is not
    int stop_after_polls;        // 0: never; else the ECU falls silent after this many polls
    int fault_poll[FAULT_KINDS]; // 0: off; the poll number (1 for the endless faults)
    sim_error_record memory[SIM_MEMORY_SIZE];
    int memory_count;
    uint8_t ram[SIM_RAM_SIZE]; // from SIM_RAM_BASE; frozen bytes keep these values
    bool ram_frozen[SIM_RAM_SIZE];
};

enum sim_phase {
    PHASE_WAIT_FLUSH,        // before the tool's purge ends its wake-up
    PHASE_WAKEUP_COMPLEMENT, // answer sent, waiting for the complement of its third byte
    PHASE_IDENT,             // identification frames, each acknowledged by the tool
    PHASE_RUN,               // serving requests
    PHASE_MUTE,              // echo only
};

enum sim_link {
    LINK_IDLE, // waiting for the length byte of the tool's next frame
    LINK_RX,   // inside a frame of the tool
    LINK_TX,   // sending a frame, waiting for the tool's complement of the last byte
    LINK_LOST, // after garbage: echo and ignore until the line goes quiet
};

enum sim_tx_purpose {
    TX_ID,     // an identification frame; the tool acknowledges it
    TX_ID_END, // the ECU's own frame titled 0x09 after its identification
    TX_REPLY,  // a reply to a request
    TX_RECORDS // a record frame; the tool acknowledges it and asks again
};

struct sim_state {
    sim_config config;
    FILE* trace;  // may be null
    FILE* report; // failures as one line each; may be null
    long long now_us;

    sim_phase phase;
    sim_link link;
    uint8_t ram[SIM_RAM_SIZE];
    sim_error_record memory[SIM_MEMORY_SIZE];
    int memory_count;
    int memory_cursor; // next record of the current collection

    uint8_t rx[SIM_FRAME_MAX]; // the tool's frame so far
    int rx_count;

    uint8_t tx[SIM_FRAME_MAX]; // the frame being sent, end byte included
    int tx_size;               // bytes in tx
    int tx_pos;                // bytes sent
    int tx_stop;               // a broken frame stops after this many bytes
    bool tx_injected;          // the frame carries an injected fault
    int tx_wrong_complements;
    sim_tx_purpose tx_purpose;

    uint8_t counter;      // counter of the ECU's last frame
    bool counter_unknown; // after a fault the tool's next counter is taken as it comes
    bool ack_expected;    // a record frame was sent
    int id_frames_sent;
    int read_ram_count; // read-RAM requests this session; two make a poll
    int polls_served;
    bool poll_fault_done[FAULT_KINDS];

    int frames_received;
    int failures;
};

void sim_init(sim_state* s, const sim_config* config);
void sim_on_flush(sim_state* s, sim_output* out);
void sim_on_byte(sim_state* s, uint8_t byte, sim_output* out);
void sim_on_silence(sim_state* s, sim_output* out);

// True while the ECU waits for the tool inside a frame; the caller then reports a quiet line
// with sim_on_silence. The complement of the wake-up answer has no such limit: a tool that set
// its line with a flushing call purges again at the end of its wake-up, which restarts it.
bool sim_waiting(const sim_state* s);

// The tool closed the line: the ECU waits for the next wake-up.
void sim_on_tool_gone(sim_state* s);

// Writes a live value into RAM unless the scenario froze that byte.
void sim_set_ram(sim_state* s, int address, uint8_t value);

const char* sim_title_name(uint8_t title);
