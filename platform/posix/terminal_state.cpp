#include "platform/posix/terminal_state.h"

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <termios.h>
#include <unistd.h>

static int keyboard_fd = -1;
static termios saved_keyboard;
static termios raw_keyboard;
static bool keyboard_raw = false;
static bool handlers_installed = false;

static char reset_sequence[128];
static char attribute_sequence[128];
static char leave_sequence[64];

static void install_handlers();

static void write_all(const char* text) {
    size_t left = strlen(text);
    while (left > 0) {
        ssize_t n = write(STDOUT_FILENO, text, left);
        if (n <= 0) {
            return;
        }
        text += n;
        left -= size_t(n);
    }
}

static void copy_sequence(char* destination, size_t size, const char* sequence) {
    size_t length = strlen(sequence);
    if (length >= size) {
        length = 0; // a sequence that does not fit is left out rather than cut
    }
    memcpy(destination, sequence, length);
    destination[length] = '\0';
}

void terminal_set_reset_sequence(const char* sequence) {
    copy_sequence(reset_sequence, sizeof reset_sequence, sequence);
    install_handlers();
}

void terminal_set_leave_sequence(const char* sequence) {
    copy_sequence(leave_sequence, sizeof leave_sequence, sequence);
}

void terminal_set_attribute_sequence(const char* sequence) {
    copy_sequence(attribute_sequence, sizeof attribute_sequence, sequence);
}

void terminal_restore() {
    write_all(reset_sequence);
    if (keyboard_raw) {
        tcsetattr(keyboard_fd, TCSANOW, &saved_keyboard);
    }
}

static void enter_raw_again() {
    if (keyboard_raw) {
        tcsetattr(keyboard_fd, TCSANOW, &raw_keyboard);
    }
    write_all(attribute_sequence);
}

static void on_fatal_signal(int signal_number) {
    write_all(leave_sequence);
    terminal_restore();
    // End the way the signal would have ended the program.
    signal(signal_number, SIG_DFL);
    raise(signal_number);
}

static void on_stop_signal(int) {
    terminal_restore();
    signal(SIGTSTP, SIG_DFL);
    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, SIGTSTP);
    sigprocmask(SIG_UNBLOCK, &stop, nullptr);
    raise(SIGTSTP);
    // Resumed.
    struct sigaction again = {};
    again.sa_handler = on_stop_signal;
    sigemptyset(&again.sa_mask);
    sigaction(SIGTSTP, &again, nullptr);
    enter_raw_again();
}

static void on_continue(int) {
    enter_raw_again();
}

static void install(int signal_number, void (*handler)(int)) {
    struct sigaction action = {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    // No SA_RESTART: a blocking wait is cut short and recomputes what is left of it.
    sigaction(signal_number, &action, nullptr);
}

static void restore_at_exit() {
    terminal_restore();
}

static void install_handlers() {
    if (handlers_installed) {
        return;
    }
    handlers_installed = true;
    install(SIGINT, on_fatal_signal);
    install(SIGTERM, on_fatal_signal);
    install(SIGHUP, on_fatal_signal);
    install(SIGTSTP, on_stop_signal);
    install(SIGCONT, on_continue);
    atexit(restore_at_exit);
}

void terminal_keep_keyboard(int fd, const void* saved_termios, const void* raw_termios) {
    keyboard_fd = fd;
    memcpy(&saved_keyboard, saved_termios, sizeof saved_keyboard);
    memcpy(&raw_keyboard, raw_termios, sizeof raw_keyboard);
    keyboard_raw = true;
    install_handlers();
}

void terminal_release_keyboard() {
    if (keyboard_raw) {
        tcsetattr(keyboard_fd, TCSANOW, &saved_keyboard);
        keyboard_raw = false;
    }
}
