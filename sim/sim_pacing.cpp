#include "sim_pacing.h"

sim_pacing sim_make_pacing(int baud, int reply_delay_ms, bool no_reaction) {
    sim_pacing p;
    p.baud = baud;
    p.no_reaction = no_reaction;
    if (reply_delay_ms >= 0) {
        p.reply_delay_us = reply_delay_ms * 1000;
    } else {
        p.reply_delay_us = baud > 0 ? SIM_PACED_REPLY_DELAY_US : 0;
    }
    if (no_reaction) {
        p.reply_delay_us = 0;
    }
    return p;
}

long long sim_out_delay_us(const sim_pacing* p, sim_out_kind kind) {
    if (p->baud <= 0) {
        return kind == OUT_FRAME_FIRST ? p->reply_delay_us : 0;
    }
    long long byte_us = 10 * 1000000LL / p->baud;
    if (p->no_reaction) {
        return byte_us;
    }
    switch (kind) {
    case OUT_ECHO:
    case OUT_GARBAGE:
        return byte_us;
    case OUT_COMPLEMENT:
        return SIM_COMPLEMENT_DELAY_US + byte_us;
    case OUT_WAKEUP_FIRST:
        return SIM_WAKEUP_DELAY_US + byte_us;
    case OUT_WAKEUP_NEXT:
    case OUT_FRAME_NEXT:
        return SIM_NEXT_BYTE_DELAY_US + byte_us;
    case OUT_FRAME_FIRST:
        return p->reply_delay_us + byte_us;
    }
    return byte_us;
}
