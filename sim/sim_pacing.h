// How long the ECU and the line take for each byte the ECU side puts on the line.
//
// Unpaced (baud 0) every byte goes out at once, except for the reply delay when one is set.
// Paced, a byte takes 10 bit times on the wire (2.083 ms at 4800 baud): the echo of the tool's
// byte is complete one byte time after the byte came, and the ECU adds its own reaction time
// before each byte it sends. Delays count from the moment the previous output byte was due, so
// that the bytes of one reaction follow each other as they would on the wire.
#pragma once

#include "sim_core.h"

constexpr int SIM_COMPLEMENT_DELAY_US = 2000;   // the ECU's reaction before a complement
constexpr int SIM_NEXT_BYTE_DELAY_US = 1000;    // before the next byte of its own frame
constexpr int SIM_WAKEUP_DELAY_US = 25000;      // before the first answer byte of the wake-up
constexpr int SIM_PACED_REPLY_DELAY_US = 15000; // before a reply frame, when none is set

struct sim_pacing {
    int baud;           // 0: unpaced
    int reply_delay_us; // before the first byte of a frame of the ECU
    bool no_reaction;   // the ECU reacts at once: only the line's byte times remain
};

// reply_delay_ms < 0 takes the default: 15 ms paced, 0 unpaced. no_reaction leaves out every
// delay of the ECU's own (before complements, frame bytes, the wake-up answer and replies), so
// that the tool can be measured against the line alone.
sim_pacing sim_make_pacing(int baud, int reply_delay_ms, bool no_reaction = false);
long long sim_out_delay_us(const sim_pacing* p, sim_out_kind kind);
