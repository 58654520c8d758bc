#pragma once
// An ECU on the fake line: it answers the wake-up, answers every byte of the tool's frames but
// the end byte with its complement, and sends its own frames byte by byte, each byte after the
// tool's complement of the one before. What it sends is either a fixed list of frames (one for
// each frame the tool sends) or what a running ECU would answer (identification, RAM, error
// memory). It records what the tool sent and every fault in the tool's handshake.
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

using bytes = std::vector<uint8_t>;

// A whole frame: length, counter, title, data, end byte.
bytes make_frame(uint8_t counter, uint8_t title, const bytes& data);

struct ecu_record {
    uint8_t code, status, byte_2, byte_3, value;
};

class fake_ecu {
  public:
    // Wake-up: after the tool's purge the ECU sends these (empty: it stays silent), then
    // expects the complement of the third.
    bytes wake_answer = {0x55, 0x01, 0x8A, 0x10, 0x20, 0x30};

    // Fixed mode: the frames to send, the first after the wake-up's complement (when the
    // wake-up is played) and each next one after a frame of the tool's; an empty one leaves
    // that frame unanswered (as the ECU does the tool's acknowledgements).
    std::vector<bytes> replies;

    // Running-ECU mode, used when use_model is set: identification frames (data only), then
    // a frame titled 0x09; RAM reads answered from ram; read-errors from errors, two records a
    // frame, then a frame titled 0x09; ACK frames of the tool not answered; clear-errors
    // empties errors and is answered with a frame titled 0x09.
    bool use_model = false;
    std::vector<bytes> id_frames = {bytes(10, 'A'), bytes(10, 'B'), bytes(10, 'C')};
    std::map<int, uint8_t> ram;
    std::vector<ecu_record> errors;
    int records_per_frame = 2;

    // Faults in the ECU's answers to the tool's bytes, by index of the byte in the tool's
    // frame (0 = length byte) for the n-th frame (0-based) the tool sends; -1 = no answer.
    std::map<std::pair<int, int>, int> answer_faults;
    // Called for every frame the tool sends, before the ECU replies.
    std::function<void(const bytes& frame)> on_frame;

    // What was seen.
    std::vector<bytes> frames_received;
    std::vector<uint8_t> wake_complements; // bytes the tool wrote after the answer
    std::vector<std::string> problems;     // the tool's handshake faults
    int ram_reads = 0;
    int error_reads = 0;
    int clears = 0;

    // Installs the ECU on the fake line.
    void attach();
    // Installs it with the wake-up and the identification over: it answers the tool's frames.
    void attach_awake();

  private:
    enum phase { waiting_for_wake, waiting_for_complement, receiving, sending };
    phase state = waiting_for_wake;
    bytes rx;
    bytes tx;
    size_t tx_index = 0;
    bool in_identification = true;
    size_t id_sent = 0;
    size_t error_cursor = 0;
    int tool_frames = 0;

    void on_write(uint8_t byte);
    void on_purge();
    void frame_complete();
    void start_sending(const bytes& frame);
    void send_next();
    bool model_reply(const bytes& frame, bytes& reply);
};
