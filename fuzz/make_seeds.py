#!/usr/bin/env python3
"""Writes the seed corpus: what the line delivers to the tool in well-formed exchanges, so that
the fuzzer starts from deep inside the protocol. Run it again after a change to the exchanges;
the files it writes are kept in the repository.

The line delivers, read after read: for every byte the tool sends with the handshake, its echo
and then the ECU's complement; for the tool's end byte, its echo; for every byte the ECU sends
with the handshake, the byte and then the echo of the tool's complement; the ECU's end byte.
"""
import os
import sys

TITLE_READ_RAM, TITLE_CLEAR_ERRORS, TITLE_READ_ERRORS, TITLE_ACK, FRAME_END = 1, 5, 7, 9, 3


class Line:
    def __init__(self):
        self.out = bytearray()
        self.counter = 0  # what the tool's next frame carries

    def tool_frame(self, title, data=b""):
        frame = bytes([len(data) + 3, self.counter & 0xFF, title]) + bytes(data)
        for b in frame:
            self.out += bytes([b, b ^ 0xFF])  # echo, the ECU's complement
        self.out += bytes([FRAME_END])  # echo of the end byte

    def ecu_frame(self, title, data=b"", end=True):
        counter = (self.counter + 1) & 0xFF
        frame = bytes([len(data) + 3, counter, title]) + bytes(data)
        for b in frame:
            self.out += bytes([b, b ^ 0xFF])  # the ECU's byte, echo of the tool's complement
        if end:
            self.out += bytes([FRAME_END])
        self.counter = (counter + 1) & 0xFF

    def wake_answer(self, answer=b"\x55\x01\x8a\x10\x20\x30"):
        self.out += answer
        self.out += bytes([answer[2] ^ 0xFF])  # echo of the tool's complement

    def identification(self, frames=(b"0261200520", b"1267357123", b"MOTRONIC  ")):
        for data in frames:
            self.ecu_frame(0xF6, data)
            self.tool_frame(TITLE_ACK)
        self.ecu_frame(TITLE_ACK)

    def poll(self, ram_a=bytes(range(80, 90)), ram_b=bytes(range(120, 127))):
        self.tool_frame(TITLE_READ_RAM, bytes([10, 0x20, 0x00]))
        self.ecu_frame(0xFE, ram_a)
        self.tool_frame(TITLE_READ_RAM, bytes([7, 0x20, 0x10]))
        self.ecu_frame(0xFE, ram_b)

    def error_memory(self, frames):
        self.tool_frame(TITLE_READ_ERRORS)
        for data in frames:
            self.ecu_frame(0xFC, data)
            self.tool_frame(TITLE_ACK)
            self.tool_frame(TITLE_READ_ERRORS)
        self.ecu_frame(TITLE_ACK)

    def clear(self):
        self.tool_frame(TITLE_CLEAR_ERRORS)
        self.ecu_frame(TITLE_ACK)


RECORDS = [
    bytes([0x11, 0x02, 0, 0, 40, 0x22, 0x0A, 0, 0, 200]),
    bytes([0x33, 0x01, 0, 0, 7]),
    bytes([0x44, 0x08, 0, 0, 255, 0x55, 0x04, 0, 0, 0]),
]


def receive_frame_seeds():
    seeds = {}
    line = Line()
    for _ in range(3):
        line.tool_frame(TITLE_READ_RAM, bytes([10, 0x20, 0x00]))
        line.ecu_frame(0xFE, bytes(range(10)))
    seeds["three_replies"] = line.out
    line = Line()
    line.counter = 0xFE
    line.tool_frame(TITLE_READ_RAM, bytes([10, 0x20, 0x00]))
    line.ecu_frame(0xFE, bytes(10))  # counter 0xFF: the next request carries 0x00
    line.tool_frame(TITLE_READ_RAM, bytes([10, 0x20, 0x00]))
    line.ecu_frame(0xFE, bytes(3), end=False)
    seeds["counter_wraps_then_no_end_byte"] = line.out
    line = Line()
    line.tool_frame(TITLE_READ_RAM, bytes([10, 0x20, 0x00]))
    line.ecu_frame(0xFE, bytes(range(20)))  # longer than the buffer
    seeds["oversize_reply"] = line.out
    return seeds


def id_frames_seeds():
    line = Line()
    line.wake_answer()
    line.identification()
    short = Line()
    short.wake_answer(b"\x55\x01\x8a")
    return {"identification": line.out, "short_answer": short.out[:3]}


def live_data_seeds():
    line = Line()
    line.poll()
    line.poll(bytes([62, 255, 214, 215, 12, 31, 255, 104, 2, 255]), bytes([185, 255, 0, 0, 204,
                                                                          0, 130]))
    line.poll(bytes([255] * 10), bytes([255] * 7))
    short = Line()
    short.tool_frame(TITLE_READ_RAM, bytes([10, 0x20, 0x00]))
    short.ecu_frame(0xFE, bytes(range(4)))  # fewer bytes than asked for
    return {"three_polls": line.out, "short_reply": short.out}


def error_memory_seeds():
    line = Line()
    line.error_memory(RECORDS)
    line.clear()
    line.error_memory([])
    many = Line()
    many.error_memory(RECORDS * 3)  # more records than the table holds
    return {"collect_clear_collect": bytes([1]) + line.out, "more_than_ten": bytes([0]) + many.out}


def whole_run_seeds():
    seeds = {}
    line = Line()
    line.wake_answer()
    line.identification()
    for _ in range(20):
        line.poll()
    line.error_memory(RECORDS)
    for _ in range(5):
        line.poll()
    seeds["twenty_five_polls"] = bytes([25, 0]) + line.out  # "q" at the 26th pass
    line = Line()
    line.wake_answer()
    line.identification()
    line.poll()
    line.clear()
    line.poll()
    seeds["clear_key"] = bytes([3, 2]) + line.out  # poll, "d", poll, "q"
    return seeds


def main():
    root = os.path.join(os.path.dirname(os.path.abspath(__file__)), "corpus")
    for target, seeds in (
        ("receive_frame", receive_frame_seeds()),
        ("id_frames", id_frames_seeds()),
        ("live_data", live_data_seeds()),
        ("error_memory", error_memory_seeds()),
        ("whole_run", whole_run_seeds()),
    ):
        folder = os.path.join(root, target)
        os.makedirs(folder, exist_ok=True)
        for name, data in seeds.items():
            with open(os.path.join(folder, name), "wb") as f:
                f.write(bytes(data))
    return 0


if __name__ == "__main__":
    sys.exit(main())
