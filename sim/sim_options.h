// The command line of quelmar-sim.
#pragma once

#include "sim_core.h"

constexpr int SIM_PATH_MAX = 512;

struct sim_options {
    sim_config config;
    char link_path[SIM_PATH_MAX];  // empty: no symlink
    char trace_path[SIM_PATH_MAX]; // empty: no trace; "-": stderr
    int baud;                      // 0: unpaced
    int reply_delay_ms;            // -1: the pacing's default
    bool no_delay;                 // the ECU reacts at once: only the line's byte times
    bool keep;                     // wait for the next tool run instead of exiting
};

enum sim_parse_result { PARSE_OK, PARSE_HELP, PARSE_ERROR };

// Fills options from argv. On PARSE_ERROR, error holds one line saying what was wrong.
sim_parse_result sim_parse_args(int argc, char** argv, sim_options* options, char* error,
                                int error_size);

extern const char sim_usage[];
