// The keyboard on a terminal: non-canonical, no echo, the interrupt keys kept. Escape sequences
// (cursor and function keys, Alt with a key) are taken whole and come as one code, 0x1B, so
// that "ESC [ D" (left arrow) can never act as "D".
#include "platform/keyboard.h"

#include "platform/posix/terminal_state.h"

#include <cerrno>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

constexpr int ESCAPE = 0x1B;
// How long the rest of an escape sequence may take to follow its ESC. Terminals send a
// sequence in one write; a lone Esc is taken once this has passed.
constexpr int SEQUENCE_GAP_MS = 25;

static unsigned char pending[64];
static int pending_count = 0;
static bool input_ended = false;

// Reads what stdin has, waiting at most wait_ms for the first byte.
static void fill_pending(int wait_ms) {
    if (input_ended || pending_count >= int(sizeof pending)) {
        return;
    }
    pollfd p = {STDIN_FILENO, POLLIN, 0};
    int ready = poll(&p, 1, wait_ms);
    if (ready <= 0) {
        return;
    }
    ssize_t n = read(STDIN_FILENO, pending + pending_count, sizeof pending - size_t(pending_count));
    if (n > 0) {
        pending_count += int(n);
    } else if (n == 0 || (errno != EINTR && errno != EAGAIN)) {
        input_ended = true; // end of input or a closed terminal: no key will ever come
    }
}

// The byte at index, reading more of the sequence if it has not come yet; -1 when none follows.
static int pending_at(int index) {
    while (index >= pending_count) {
        int before = pending_count;
        fill_pending(SEQUENCE_GAP_MS);
        if (pending_count == before) {
            return -1;
        }
    }
    return pending[index];
}

// The length of the key that starts the pending bytes.
static int key_length() {
    if (pending[0] != ESCAPE) {
        return 1;
    }
    int second = pending_at(1);
    if (second == -1) {
        return 1; // a lone Esc
    }
    if (second == '[') {
        // Control sequence: parameters and intermediates, then one final byte 0x40 to 0x7E.
        int index = 2;
        for (;;) {
            int byte = pending_at(index);
            if (byte == -1) {
                return index;
            }
            index++;
            if (byte >= 0x40 && byte <= 0x7E) {
                return index;
            }
            if (index >= int(sizeof pending)) {
                return index;
            }
        }
    }
    if (second == 'O') {
        return pending_at(2) == -1 ? 2 : 3; // function keys: ESC O P and the like
    }
    return 2; // Alt with a key
}

static void drop_pending(int count) {
    for (int i = count; i < pending_count; i++) {
        pending[i - count] = pending[i];
    }
    pending_count -= count;
}

void keyboard_open() {
    termios saved;
    if (tcgetattr(STDIN_FILENO, &saved) != 0) {
        return; // not a terminal: keys, if any, are read as they come
    }
    termios raw = saved;
    raw.c_lflag &= tcflag_t(~(ICANON | ECHO));
    raw.c_lflag |= ISIG;
    raw.c_cc[VMIN] = 0;
    raw.c_cc[VTIME] = 0;
    tcsetattr(STDIN_FILENO, TCSANOW, &raw);
    terminal_keep_keyboard(STDIN_FILENO, &saved, &raw);
}

bool key_waiting() {
    if (pending_count == 0) {
        fill_pending(0);
    }
    return pending_count > 0;
}

int key_read() {
    while (pending_count == 0 && !input_ended) {
        fill_pending(-1);
    }
    if (pending_count == 0) {
        return 0;
    }
    int code = pending[0];
    drop_pending(key_length());
    return code;
}

void keyboard_close() {
    terminal_release_keyboard();
}
