#include "sim_options.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

const char sim_usage[] =
    "usage: quelmar-sim [options]\n"
    "Plays the ECU on a pseudo-terminal and prints the path of its slave side.\n"
    "  --link PATH            make PATH a symlink to the slave (removed at exit)\n"
    "  --faults C:S:V[,...]   stored error records: code, status, value (decimal or 0x..)\n"
    "  --ram ADDR=HH[,HH...]  set RAM bytes from ADDR (hex) and keep them fixed\n"
    "  --silent               the ECU never answers; the adapter still echoes\n"
    "  --stop-after N         the ECU stops answering after N polls\n"
    "  --fault KIND[@N]       a line fault at poll N (default 1): wrong-complement,\n"
    "                         broken-frame, oversize-length, garbage; or for the whole\n"
    "                         session: endless-errors, endless-id\n"
    "  --baud 4800            pace every byte at the line's speed, with the ECU's delays\n"
    "  --reply-delay MS       delay before each frame of the ECU (default 15 paced, 0 not)\n"
    "  --no-delay             the ECU reacts at once: with --baud only the line's byte times\n"
    "  --trace FILE           write every byte and frame to FILE ('-' for stderr)\n"
    "  --keep                 wait for the next run of the tool instead of exiting\n"
    "  --help                 show this text\n"
    "Exit status: 0 when every check of the tool's behaviour held, 1 when one failed,\n"
    "2 on a usage or start-up error.\n";

static const char* const fault_names[FAULT_KINDS] = {
    "wrong-complement", "broken-frame",   "oversize-length",
    "garbage",          "endless-errors", "endless-id",
};

static bool parse_number(const char* text, long low, long high, long* value) {
    if (*text == '\0') {
        return false;
    }
    char* end = nullptr;
    errno = 0;
    long v = strtol(text, &end, 0);
    if (errno != 0 || *end != '\0' || v < low || v > high) {
        return false;
    }
    *value = v;
    return true;
}

static bool parse_hex(const char* text, long low, long high, long* value) {
    if (*text == '\0') {
        return false;
    }
    char* end = nullptr;
    errno = 0;
    long v = strtol(text, &end, 16);
    if (errno != 0 || *end != '\0' || v < low || v > high) {
        return false;
    }
    *value = v;
    return true;
}

// Splits text at sep into field (at most size bytes with its NUL); returns the rest or null
// when the field does not fit.
static const char* take_field(const char* text, char sep, char* field, int size) {
    const char* end = strchr(text, sep);
    int n = end ? (int)(end - text) : (int)strlen(text);
    if (n >= size) {
        return nullptr;
    }
    memcpy(field, text, n);
    field[n] = '\0';
    return end ? end + 1 : text + n;
}

static bool parse_faults(const char* text, sim_config* c) {
    while (*text) {
        char item[64];
        const char* rest = take_field(text, ',', item, sizeof item);
        if (!rest || c->memory_count >= SIM_MEMORY_SIZE) {
            return false;
        }
        char part[3][24];
        const char* p = item;
        for (int i = 0; i < 3; i++) {
            p = take_field(p, ':', part[i], sizeof part[i]);
            if (!p) {
                return false;
            }
        }
        if (*p != '\0' || p[-1] == ':') {
            return false; // a fourth field
        }
        long code, status, value;
        if (!parse_number(part[0], 1, 255, &code) || !parse_number(part[1], 0, 255, &status) ||
            !parse_number(part[2], 0, 255, &value)) {
            return false;
        }
        c->memory[c->memory_count++] = {(uint8_t)code, (uint8_t)status, 0, 0, (uint8_t)value};
        text = rest;
        if (rest[-1] == ',' && *rest == '\0') {
            return false;
        }
    }
    return c->memory_count > 0;
}

static bool parse_ram(const char* text, sim_config* c) {
    char field[16];
    const char* rest = take_field(text, '=', field, sizeof field);
    long address;
    if (!rest || rest == text + strlen(text) || !parse_hex(field, SIM_RAM_BASE, 0x20FF, &address)) {
        return false;
    }
    int at = (int)address - SIM_RAM_BASE;
    while (true) {
        rest = take_field(rest, ',', field, sizeof field);
        long value;
        if (!rest || at >= SIM_RAM_SIZE || !parse_hex(field, 0, 255, &value)) {
            return false;
        }
        c->ram[at] = (uint8_t)value;
        c->ram_frozen[at] = true;
        at++;
        if (*rest == '\0') {
            return rest[-1] != ',';
        }
    }
}

static bool parse_fault(const char* text, sim_config* c) {
    char name[32];
    const char* rest = take_field(text, '@', name, sizeof name);
    if (!rest) {
        return false;
    }
    long poll = 1;
    bool has_poll = *rest != '\0';
    if (has_poll && !parse_number(rest, 1, 1000000, &poll)) {
        return false;
    }
    if (!has_poll && strchr(text, '@')) {
        return false;
    }
    for (int k = 0; k < FAULT_KINDS; k++) {
        if (strcmp(name, fault_names[k]) == 0) {
            bool endless = k == FAULT_ENDLESS_ERRORS || k == FAULT_ENDLESS_ID;
            if (endless && has_poll) {
                return false;
            }
            c->fault_poll[k] = (int)poll;
            return true;
        }
    }
    return false;
}

static bool copy_path(const char* text, char* path) {
    if (*text == '\0' || strlen(text) >= SIM_PATH_MAX) {
        return false;
    }
    strcpy(path, text);
    return true;
}

sim_parse_result sim_parse_args(int argc, char** argv, sim_options* o, char* error,
                                int error_size) {
    memset(o, 0, sizeof *o);
    o->reply_delay_ms = -1;
    o->no_delay = false;
    for (int i = 1; i < argc; i++) {
        const char* arg = argv[i];
        if (strcmp(arg, "--help") == 0 || strcmp(arg, "-h") == 0) {
            return PARSE_HELP;
        }
        if (strcmp(arg, "--silent") == 0) {
            o->config.silent = true;
            continue;
        }
        if (strcmp(arg, "--keep") == 0) {
            o->keep = true;
            continue;
        }
        if (strcmp(arg, "--no-delay") == 0) {
            o->no_delay = true;
            continue;
        }
        if (i + 1 >= argc) {
            snprintf(error, error_size, "%s: unknown option or missing value", arg);
            return PARSE_ERROR;
        }
        const char* value = argv[++i];
        long n = 0;
        bool ok;
        if (strcmp(arg, "--link") == 0) {
            ok = copy_path(value, o->link_path);
        } else if (strcmp(arg, "--trace") == 0) {
            ok = copy_path(value, o->trace_path);
        } else if (strcmp(arg, "--faults") == 0) {
            ok = parse_faults(value, &o->config);
        } else if (strcmp(arg, "--ram") == 0) {
            ok = parse_ram(value, &o->config);
        } else if (strcmp(arg, "--fault") == 0) {
            ok = parse_fault(value, &o->config);
        } else if (strcmp(arg, "--stop-after") == 0) {
            ok = parse_number(value, 1, 1000000000, &n);
            o->config.stop_after_polls = (int)n;
        } else if (strcmp(arg, "--baud") == 0) {
            ok = parse_number(value, 0, 1000000, &n);
            o->baud = (int)n;
        } else if (strcmp(arg, "--reply-delay") == 0) {
            ok = parse_number(value, 0, 10000, &n);
            o->reply_delay_ms = (int)n;
        } else {
            snprintf(error, error_size, "%s: unknown option", arg);
            return PARSE_ERROR;
        }
        if (!ok) {
            snprintf(error, error_size, "%s: bad value '%s'", arg, value);
            return PARSE_ERROR;
        }
    }
    return PARSE_OK;
}
