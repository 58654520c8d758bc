#include "tests/support/fake_ecu.h"

#include "tests/fakes/fakes.h"

bytes make_frame(uint8_t counter, uint8_t title, const bytes& data) {
    bytes frame;
    frame.push_back(uint8_t(data.size() + 3));
    frame.push_back(counter);
    frame.push_back(title);
    for (uint8_t byte : data) {
        frame.push_back(byte);
    }
    frame.push_back(0x03);
    return frame;
}

void fake_ecu::attach() {
    fake_line.on_write = [this](uint8_t byte) { on_write(byte); };
    fake_line.on_purge = [this] { on_purge(); };
}

void fake_ecu::attach_awake() {
    attach();
    state = receiving;
    in_identification = false;
}

void fake_ecu::on_purge() {
    if (wake_answer.empty()) {
        return;
    }
    for (uint8_t byte : wake_answer) {
        fake_line_queue_byte(byte);
    }
    state = waiting_for_complement;
}

void fake_ecu::start_sending(const bytes& frame) {
    if (frame.empty()) {
        return; // an empty entry of replies: the ECU does not answer that frame
    }
    tx = frame;
    tx_index = 0;
    state = sending;
    send_next();
}

void fake_ecu::send_next() {
    fake_line_queue_byte(tx[tx_index]);
    // The end byte is not answered: the frame is over once it is sent.
    if (tx_index + 1 == tx.size()) {
        state = receiving;
    }
}

void fake_ecu::on_write(uint8_t byte) {
    switch (state) {
    case waiting_for_wake:
        return;
    case waiting_for_complement:
        wake_complements.push_back(byte);
        if (wake_answer.size() > 2 && byte != uint8_t(wake_answer[2] ^ 0xFF)) {
            problems.push_back("wrong complement of the wake-up answer");
        }
        state = receiving;
        if (use_model) {
            bytes reply;
            if (model_reply(bytes{}, reply)) {
                start_sending(reply);
            }
        } else if (!replies.empty()) {
            bytes reply = replies.front();
            replies.erase(replies.begin());
            start_sending(reply);
        }
        return;
    case sending:
        if (byte != uint8_t(tx[tx_index] ^ 0xFF)) {
            problems.push_back("tool answered byte " + std::to_string(tx_index) + " wrongly");
        }
        tx_index++;
        send_next();
        return;
    case receiving:
        break;
    }
    rx.push_back(byte);
    int index = int(rx.size()) - 1;
    int length = rx[0];
    if (index < length) {
        auto fault = answer_faults.find({tool_frames, index});
        if (fault == answer_faults.end()) {
            fake_line_queue_byte(byte ^ 0xFF);
        } else if (fault->second >= 0) {
            fake_line_queue_byte(uint8_t(fault->second));
        }
    }
    if (index >= length) {
        frame_complete();
    }
}

void fake_ecu::frame_complete() {
    bytes frame = rx;
    rx.clear();
    tool_frames++;
    frames_received.push_back(frame);
    if (on_frame) {
        on_frame(frame);
    }
    bytes reply;
    if (use_model) {
        if (model_reply(frame, reply)) {
            start_sending(reply);
        }
    } else if (!replies.empty()) {
        reply = replies.front();
        replies.erase(replies.begin());
        start_sending(reply);
    }
}

bool fake_ecu::model_reply(const bytes& frame, bytes& reply) {
    uint8_t counter = frame.size() > 1 ? uint8_t(frame[1] + 1) : 1;
    uint8_t title = frame.size() > 2 ? frame[2] : 0x09;
    if (in_identification) {
        if (title != 0x09) {
            problems.push_back("a request before the identification ended");
        }
        if (id_sent < id_frames.size()) {
            reply = make_frame(counter, 0xF6, id_frames[id_sent++]);
        } else {
            reply = make_frame(counter, 0x09, {});
            in_identification = false;
        }
        return true;
    }
    switch (title) {
    case 0x01: {
        ram_reads++;
        bytes data;
        int address = frame[4] * 256 + frame[5];
        for (int i = 0; i < frame[3]; i++) {
            auto found = ram.find(address + i);
            data.push_back(found == ram.end() ? 0 : found->second);
        }
        reply = make_frame(counter, 0xFE, data);
        return true;
    }
    case 0x07: {
        error_reads++;
        if (error_cursor >= errors.size()) {
            error_cursor = 0;
            reply = make_frame(counter, 0x09, {});
            return true;
        }
        bytes data;
        for (int i = 0; i < records_per_frame && error_cursor < errors.size(); i++) {
            const ecu_record& r = errors[error_cursor++];
            for (uint8_t byte : {r.code, r.status, r.byte_2, r.byte_3, r.value}) {
                data.push_back(byte);
            }
        }
        reply = make_frame(counter, 0xFC, data);
        return true;
    }
    case 0x05:
        clears++;
        errors.clear();
        error_cursor = 0;
        reply = make_frame(counter, 0x09, {});
        return true;
    default:
        return false; // the tool's acknowledgements are not answered
    }
}
