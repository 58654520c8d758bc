#include "services/error_messages.h"

#include "control/console.h"
#include "control/quelmar.h"
#include "services/error_memory.h"

#include <cstdio>
#include <cstring>

constexpr uint8_t BLANK_GROUP = 38;
constexpr int MESSAGE_GROUPS = 39;
constexpr int SHOWN_SLOTS = 7;
constexpr int16_t FIRST_MESSAGE_ROW = 13;
// From this value on a record's row is red.
constexpr uint8_t RED_VALUE = 64;

// The blank line: every message row is padded to its width, so that a row shows exactly one
// message and no tail of a longer one written there before.
static const char BLANK_LINE[] =
    "                                                                    "; // 68 spaces
constexpr int MESSAGE_WIDTH = sizeof BLANK_LINE - 1;
static_assert(MESSAGE_WIDTH == 68, "the blank line covers columns 0 to 67");

// The row of a record whose group has messages for some status bits only, none of which is
// set: it still names the fault the ECU holds.
static const char NO_MESSAGE_FOR_STATUS[] = "(%d) Error code %d, status 0x%02X (no description)";

// The status bits a group tests, in order.
constexpr uint8_t BIT_0 = 0x01;
constexpr uint8_t BIT_1 = 0x02;
constexpr uint8_t BIT_2 = 0x04;
constexpr uint8_t BIT_3 = 0x08;

// A group is a single message, shown whatever the status holds (no bits), or up to three
// messages, messages[i] selected when bits[i] is the first of its bits set in the status.
struct message_group {
    uint8_t bits[3];
    const char* messages[3];
};

// The message group of every error code, at position code - 1; B is BLANK_GROUP. Each row
// holds 16 codes, from the one in its comment.
// clang-format off
#define B BLANK_GROUP
static const uint8_t error_code_index[255] = {
    /*   1 */  0,  1,  2,  3,  4,  5,  6,  7,  8,  9,  B, 10, 11,  B,  B, 12,
    /*  17 */  B,  B,  B,  B,  B, 13,  B, 14,  B,  B,  B, 15,  B,  B,  B,  B,
    /*  33 */  B, 16,  B,  B, 17,  B,  B,  B,  B,  B,  B, 18, 19,  B,  B,  B,
    /*  49 */  B,  B,  B,  B,  B,  B, 20,  B,  B,  B,  B,  B,  B,  B,  B,  B,
    /*  65 */  B,  B,  B,  B,  B,  B,  B,  B,  B,  B,  B,  B,  B,  B,  B, 21,
    /*  81 */  B,  B,  B,  B,  B,  B,  B,  B,  B,  B,  B,  B,  B,  B,  B,  B,
    /*  97 */  B,  B,  B,  B,  B, 22, 23, 24,  B,  B,  B,  B,  B,  B,  B,  B,
    /* 113 */  B,  B,  B,  B,  B,  B,  B,  B,  B,  B,  B,  B,  B,  B,  B, 25,
    /* 129 */ 26,  B,  B,  B, 27,  B,  B,  B, 28, 29,  B,  B,  B,  B, 30,  B,
    /* 145 */  B,  B,  B,  B,  B,  B,  B,  B,  B,  B,  B,  B,  B,  B,  B,  B,
    /* 161 */  B,  B,  B,  B,  B,  B,  B,  B,  B,  B,  B,  B,  B,  B,  B,  B,
    /* 177 */  B,  B,  B,  B,  B,  B,  B,  B,  B,  B,  B,  B,  B,  B,  B,  B,
    /* 193 */  B,  B,  B,  B,  B,  B,  B, 31,  B,  B,  B,  B,  B,  B,  B,  B,
    /* 209 */  B,  B,  B,  B,  B,  B,  B,  B,  B,  B,  B,  B,  B,  B,  B,  B,
    /* 225 */ 32, 33, 34, 35, 36,  B,  B,  B,  B,  B,  B,  B,  B,  B,  B,  B,
    /* 241 */  B,  B,  B,  B,  B,  B,  B,  B,  B,  B,  B,  B,  B,  B, 37,
};
#undef B
// clang-format on

// Groups 0 to 37 in order, each with its error code in the comment, then BLANK_GROUP.
// clang-format off
static const message_group message_groups[MESSAGE_GROUPS] = {
    /*   1 */ {{}, {"(%d) ECU internal RAM error"}},
    /*   2 */ {{BIT_0, BIT_1, BIT_2},
               {"(%d) Idle actuator (closing) s/c to 12v",
                "(%d) Idle actuator (closing) s/c to ground",
                "(%d) Idle actuator (closing) open circuit"}},
    /*   3 */ {{}, {"(%d) Fuel pump relay s/c to 12v"}},
    /*   4 */ {{BIT_0, BIT_1, BIT_2},
               {"(%d) Idle actuator (opening) s/c to 12v",
                "(%d) Idle actuator (opening) s/c to ground",
                "(%d) Idle actuator (opening) open circuit"}},
    /*   5 */ {{}, {"(%d) Crank sensor open cicuit"}},
    /*   6 */ {{}, {"(%d) ECU internal ROM/EPROM error"}},
    /*   7 */ {{BIT_0, BIT_1},
               {"(%d) Air flow meter s/c to 12v",
                "(%d) Air flow meter s/c to ground or o/c"}},
    /*   8 */ {{BIT_0, BIT_1},
               {"(%d) Cam sensor s/c to 12v or o/c",
                "(%d) Cam sensor s/c to ground"}},
    /*   9 */ {{}, {"(%d) Speed signal not plausible"}},
    /*  10 */ {{BIT_0, BIT_1},
               {"(%d) Lambda integrator FR upper limit",
                "(%d) Lambda integrator FR lower limit"}},
    /*  12 */ {{BIT_0, BIT_1},
               {"(%d) Throttle position sensor past max (253)",
                "(%d) Throttle position sensor past min (5)"}},
    /*  13 */ {{}, {"Automatic gearbox input s/c to ground"}},
    /*  16 */ {{BIT_0, BIT_1, BIT_2},
               {"(%d) Modular manifold command s/c to 12v",
                "(%d) Modular manifold command s/c to ground",
                "(%d) Modular manifold command open circuit"}},
    /*  22 */ {{BIT_0, BIT_1, BIT_2},
               {"(%d) Timing variator s/c to 12v",
                "(%d) Timing variator s/c to ground",
                "(%d) Timing variator open circuit"}},
    /*  24 */ {{}, {"(%d) Cooling fan signal not plausible"}},
    /*  28 */ {{BIT_0, BIT_1, BIT_2},
               {"(%d) Lambda sensor s/c to 12v",
                "(%d) Lambda sensor s/c to ground",
                "(%d) Lambda sensor open circuit"}},
    /*  34 */ {{BIT_0, BIT_1, BIT_2},
               {"(%d) Purge canister s/c to 12v",
                "(%d) Purge canister s/c to ground",
                "(%d) Purge canister open circuit"}},
    /*  37 */ {{BIT_0, BIT_1},
               {"(%d) Battery voltage over maximum",
                "(%d) Battery voltage under minimum"}},
    /*  44 */ {{BIT_0, BIT_1},
               {"(%d) Air temperature sensor s/c to 12v or o/c",
                "(%d) Air temperature sensor s/c to ground"}},
    /*  45 */ {{BIT_0, BIT_1, BIT_3},
               {"(%d) Water temperature sensor s/c to 12v or o/c",
                "(%d) Water temperature sensor s/c to ground",
                "(%d) Water temperature sensor implausible"}},
    /*  55 */ {{}, {"(%d) Crank sensor signal implausible"}},
    /*  80 */ {{BIT_0, BIT_1, BIT_2},
               {"(%d) Waste gate s/c to 12v",
                "(%d) Waste gate s/c to ground",
                "(%d) Waste gate open circuit"}},
    /* 102 */ {{BIT_0, BIT_1},
               {"(%d) FRA self-adaptation parameters beyond upper limit",
                "(%d) FRA self-adaptation parameters beyond lower limit"}},
    /* 103 */ {{BIT_0, BIT_1},
               {"(%d) DTV self-adaptation parameters beyond upper limit",
                "(%d) DTV self-adaptation parameters beyond lower limit"}},
    /* 104 */ {{BIT_0, BIT_1},
               {"(%d) TRA self-adaptation parameters beyond upper limit",
                "(%d) TRA self-adaptation parameters beyond lower limit"}},
    /* 128 */ {{}, {"Knock sensor 1 signal not plausible"}},
    /* 129 */ {{}, {"Knock sensor 2 signal not plausible"}},
    /* 133 */ {{}, {"(%d) Supercharging pressure at top limit"}},
    /* 137 */ {{BIT_0, BIT_1},
               {"(%d) Pressure sensor above maximum",
                "(%d) Pressure sensor below minimum"}},
    /* 138 */ {{BIT_0, BIT_1},
               {"(%d) Supercharging adjustment with throttle closed at top limit",
                "(%d) Supercharging adjustment with throttle closed at bottom limit"}},
    /* 143 */ {{}, {"Knock evaluation circuit signal not plausible"}},
    /* 200 */ {{}, {"Error between immobiliser and ECU"}},
    /* 225 */ {{BIT_0, BIT_1, BIT_2},
               {"(%d) Injector 1 s/c to 12v",
                "(%d) Injector 1 s/c to ground",
                "(%d) Injector 1 open circuit"}},
    /* 226 */ {{BIT_0, BIT_1, BIT_2},
               {"(%d) Injector 2 s/c to 12v",
                "(%d) Injector 2 s/c to ground",
                "(%d) Injector 2 open circuit"}},
    /* 227 */ {{BIT_0, BIT_1, BIT_2},
               {"(%d) Injector 3 s/c to 12v",
                "(%d) Injector 3 s/c to ground",
                "(%d) Injector 3 open circuit"}},
    /* 228 */ {{BIT_0, BIT_1, BIT_2},
               {"(%d) Injector 4 s/c to 12v",
                "(%d) Injector 4 s/c to ground",
                "(%d) Injector 4 open circuit"}},
    /* 229 */ {{BIT_0, BIT_1, BIT_2},
               {"(%d) Injector 5 s/c to 12v",
                "(%d) Injector 5 s/c to ground",
                "(%d) Injector 5 open circuit"}},
    /* 255 */ {{BIT_0, BIT_1, BIT_2},
               {"(%d) Exhaust gas recirculator s/c to 12v",
                "(%d) Exhaust gas recirculator s/c to ground",
                "(%d) Exhaust gas recirculator open circuit"}},
    /* --- */ {{}, {BLANK_LINE}},
};
// clang-format on

static uint8_t group_of(uint8_t code) {
    return code == 0 ? BLANK_GROUP : error_code_index[code - 1];
}

// The message the status selects, or nullptr when none of the group's bits is set.
static const char* select_message(const message_group& group, uint8_t status) {
    if (group.bits[0] == 0) {
        return group.messages[0];
    }
    for (int i = 0; i < 3 && group.bits[i] != 0; i++) {
        if ((status & group.bits[i]) != 0) {
            return group.messages[i];
        }
    }
    return nullptr;
}

// Fills tmp with the record's row, padded with spaces to the blank line's width.
static void format_record(const error_record& record) {
    const char* message = select_message(message_groups[group_of(record.code)], record.status);
    int length;
    if (message != nullptr) {
        length = snprintf(tmp, sizeof tmp, message, record.value);
    } else {
        length = snprintf(tmp, sizeof tmp, NO_MESSAGE_FOR_STATUS, record.value, record.code,
                          record.status);
    }
    if (length < MESSAGE_WIDTH) {
        memset(tmp + length, ' ', size_t(MESSAGE_WIDTH - length));
        tmp[MESSAGE_WIDTH] = '\0';
    }
}

void show_error_messages() {
    for (int slot = 0; slot < SHOWN_SLOTS; slot++) {
        const error_record& record = error_table[slot];
        format_record(record);
        uint16_t colour = record.value >= RED_VALUE ? COLOUR_RED : COLOUR_YELLOW;
        print_at(console_handle, tmp, 0, int16_t(FIRST_MESSAGE_ROW + slot), colour);
    }
}
