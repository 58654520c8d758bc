#include "control/quelmar.h"

#include "control/console.h"
#include "link/serial_port.h"
#include "link/wakeup.h"
#include "platform/clock.h"
#include "platform/keyboard.h"
#include "services/error_memory.h"
#include "services/error_messages.h"
#include "services/live_data.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

char tmp[TMP_SIZE];
console_position posn;
int8_t last_key;
int spinner_step;
int poll_count;

// Before the first key: a code that is none of the keys the loop acts on.
constexpr int8_t NO_KEY = 0;

static const char* const spinner_glyphs[4] = {"\\", "|", "/", "-"};

static const char BLANKING_TABS[] = "\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t"
                                    "                      \n";
static const char BLANKING_SPACES[] =
    "                                                                  \n";

static bool is_quit_key(int8_t key) {
    return key == 'q' || key == 'Q';
}

static bool is_clear_key(int8_t key) {
    return key == 'D' || key == 'd';
}

static void build_port_name(int argc, char** argv) {
    if (argc > 1) {
        snprintf(tmp, sizeof tmp, "\\\\.\\com%s", argv[1]);
    } else {
        snprintf(tmp, sizeof tmp, "%s", "\\\\.\\com1");
    }
}

static void start_up(int argc, char** argv) {
    open_console();
    keyboard_open();
    clear_screen();
    if (argc < 2) {
        print_at_cursor("Usage: quelmar [com_number]\n");
        print_at_cursor("You didn't specify the com port, so assuming com1\n");
    }
    console_set_attribute(console_handle, COLOUR_WHITE);
    print_at_cursor("Quelmar console version 1.01b\n");
    print_at_cursor("Written by the quelmar developers; free software, no warranty\n");
    if (argc > 1 && strlen(argv[1]) > size_t(PORT_ARGUMENT_MAX)) {
        print_at_cursor("The com port argument is longer than %d characters; quitting.\n",
                        PORT_ARGUMENT_MAX);
        exit(1);
    }
    build_port_name(argc, argv);
    print_at_cursor("Attempting to open the comms port '%s'...\n", tmp);
    port_handle = open_port(LINE_BAUD_RATE, tmp);
    if (port_handle == nullptr) {
        print_at_cursor("Unable to open serial port; quiting.\n");
        exit(1);
    }
    print_at_cursor("Successfully opened port!\n\n");
    sleep_ms(SETTLE_WAIT_MS);

    posn = console_position{0, 2};
    console_set_cursor(console_handle, posn.column, posn.row);
    print_at_cursor("%s", BLANKING_TABS);
    print_at_cursor("%s", BLANKING_SPACES);
    print_at_cursor("%s", BLANKING_SPACES);
    print_at(console_handle, "Hit 'q' to quit", 0, 3, COLOUR_YELLOW);
    print_at(console_handle, "", 0, 4, COLOUR_BLUE);

    five_baud_init(port_handle);
    read_ecu_id();
    read_id_frames();
}

static void poll_once() {
    print_at(console_handle, spinner_glyphs[spinner_step], 16, 3, COLOUR_YELLOW);
    spinner_step = (spinner_step + 1) % 4;
    poll_live_data();
    poll_count++;
    if (poll_count == ERROR_READ_INTERVAL) {
        poll_count = 0;
        read_error_memory();
        show_error_messages();
    }
}

static void shut_down() {
    if (port_handle != nullptr) {
        close_port(port_handle);
        port_handle = nullptr;
    }
    print_at(console_handle, "Bye...\n", 0, 22, COLOUR_WHITE);
    close_console();
    keyboard_close();
}

int quelmar_main(int argc, char** argv) {
    last_key = NO_KEY;
    start_up(argc, argv);
    spinner_step = 0;
    poll_count = 0;
    for (;;) {
        if (key_waiting()) {
            last_key = int8_t(key_read());
            if (is_clear_key(last_key)) {
                clear_error_memory();
            }
            continue;
        }
        if (is_quit_key(last_key)) {
            break;
        }
        poll_once();
    }
    shut_down();
    return 0;
}
