// quelmar-sim: plays the ECU on the master side of a pseudo-terminal.
//
// The loop is thin: it reads the tool's bytes and purges from the master in packet mode, feeds
// them to the protocol engine (sim_core), and writes what the engine answers when each byte is
// due (sim_pacing). It sleeps in ppoll between events and never spins: a hung-up master is
// polled again only on a timer.
#include "engine_model.h"
#include "sim_core.h"
#include "sim_options.h"
#include "sim_pacing.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

constexpr int QUEUE_SIZE = 512;
constexpr long long GIVE_UP_US = 1000000; // the ECU abandons an exchange: less than the tool's 2 s
constexpr long long REOPEN_CHECK_US = 50000;
constexpr long long RETRY_WRITE_US = 10000;

struct queued_byte {
    uint8_t value;
    uint8_t kind;
    long long due_us;
};

struct out_queue {
    queued_byte entries[QUEUE_SIZE];
    int head;
    int count;
    long long last_due_us;
};

static sim_options options;
static sim_state sim;
static sim_pacing pacing;
static out_queue queue;
static int master_fd = -1;
static FILE* trace_file;
static long long start_us;
static long long wakeup_us;
static long long last_activity_us;
static bool tool_seen;
static bool hung_up;
static volatile sig_atomic_t stop_signal;

static const char* const kind_names[] = {"echo",  "complement", "wake-up answer", "wake-up answer",
                                         "frame", "frame",      "garbage"};

static long long now_us() {
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec * 1000000LL + t.tv_nsec / 1000 - start_us;
}

static void on_signal(int signal_number) {
    stop_signal = signal_number;
}

static void trace_byte(const char* direction, uint8_t value, const char* what) {
    if (trace_file) {
        fprintf(trace_file, "%12.6f  %s %02X%s%s\n", (double)now_us() / 1e6, direction, value,
                what[0] ? " " : "", what);
    }
}

static void enqueue(const sim_output* out) {
    long long now = now_us();
    for (int i = 0; i < out->count; i++) {
        if (queue.count == QUEUE_SIZE) {
            fprintf(stderr, "quelmar-sim: output queue full, byte dropped\n");
            return;
        }
        long long base = queue.last_due_us > now ? queue.last_due_us : now;
        long long due = base + sim_out_delay_us(&pacing, (sim_out_kind)out->bytes[i].kind);
        queued_byte* q = &queue.entries[(queue.head + queue.count) % QUEUE_SIZE];
        *q = {out->bytes[i].value, out->bytes[i].kind, due};
        queue.count++;
        queue.last_due_us = due;
    }
}

static void clear_queue() {
    queue.head = 0;
    queue.count = 0;
}

// Writes every byte that is due, in one write when several are. Returns false when the write
// must be tried again later.
static bool write_due_bytes(long long now) {
    uint8_t bytes[QUEUE_SIZE];
    int n = 0;
    while (n < queue.count && queue.entries[(queue.head + n) % QUEUE_SIZE].due_us <= now) {
        bytes[n] = queue.entries[(queue.head + n) % QUEUE_SIZE].value;
        n++;
    }
    if (n == 0) {
        return true;
    }
    ssize_t written = write(master_fd, bytes, n);
    if (written < 0) {
        if (errno == EAGAIN || errno == EINTR) {
            return false;
        }
        clear_queue(); // the tool is gone; the hang-up is seen by the next poll
        return true;
    }
    for (ssize_t i = 0; i < written; i++) {
        queued_byte* q = &queue.entries[queue.head];
        trace_byte("ecu->tool", q->value, kind_names[q->kind]);
        queue.head = (queue.head + 1) % QUEUE_SIZE;
        queue.count--;
    }
    last_activity_us = now;
    return written == n;
}

static void update_ram() {
    double t = wakeup_us ? (double)(now_us() - wakeup_us) / 1e6 : 0;
    engine_reading r = engine_at(t);
    uint8_t ram[SIM_RAM_SIZE] = {};
    engine_to_ram(&r, ram);
    for (int i = 0; i < 0x17; i++) {
        if (i < 0x0A || i >= 0x10) {
            sim_set_ram(&sim, SIM_RAM_BASE + i, ram[i]);
        }
    }
}

static void handle_packet(const uint8_t* packet, ssize_t n) {
    tool_seen = true;
    sim_output out = {};
    long long now = now_us();
    sim.now_us = now;
    last_activity_us = now;
    if (packet[0] != TIOCPKT_DATA) {
        if (trace_file) {
            fprintf(trace_file, "%12.6f  control packet %02X\n", (double)now / 1e6, packet[0]);
        }
        if (packet[0] & TIOCPKT_FLUSHREAD) {
            clear_queue(); // the purge dropped whatever was on its way to the tool
            wakeup_us = now;
            sim_on_flush(&sim, &out);
            enqueue(&out);
        }
        return;
    }
    for (ssize_t i = 1; i < n; i++) {
        trace_byte("tool->ecu", packet[i], "");
        update_ram();
        out.count = 0;
        sim.now_us = now_us();
        sim_on_byte(&sim, packet[i], &out);
        enqueue(&out);
    }
}

static void tool_gone() {
    clear_queue();
    sim.now_us = now_us();
    sim_on_tool_gone(&sim);
    hung_up = true;
}

static void read_master() {
    uint8_t packet[1024];
    ssize_t n = read(master_fd, packet, sizeof packet);
    if (n > 0) {
        handle_packet(packet, n);
    } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
        tool_gone();
    }
}

static timespec to_timespec(long long us) {
    timespec t;
    t.tv_sec = us / 1000000;
    t.tv_nsec = (us % 1000000) * 1000;
    return t;
}

// Waits on a hung-up master: its POLLHUP stands until the next open of the slave, so polling it
// would return at once; sleep and look again instead.
static void wait_for_reopen(const sigset_t* unblocked) {
    timespec pause = to_timespec(REOPEN_CHECK_US);
    ppoll(nullptr, 0, &pause, unblocked);
    pollfd p = {master_fd, POLLIN, 0};
    timespec zero = {0, 0};
    if (ppoll(&p, 1, &zero, unblocked) >= 0 && !(p.revents & POLLHUP)) {
        hung_up = false;
        if (trace_file) {
            fprintf(trace_file, "%12.6f  the line is open again\n", (double)now_us() / 1e6);
        }
    }
}

// Returns true when the loop should end.
static bool step(const sigset_t* unblocked) {
    long long now = now_us();
    bool written = write_due_bytes(now);
    if (hung_up) {
        if (tool_seen && !options.keep) {
            return true;
        }
        wait_for_reopen(unblocked);
        return false;
    }
    long long wait_us = -1;
    if (!written) {
        wait_us = RETRY_WRITE_US;
    } else if (queue.count > 0) {
        wait_us = queue.entries[queue.head].due_us - now;
    } else if (sim_waiting(&sim)) {
        wait_us = last_activity_us + GIVE_UP_US - now;
        if (wait_us <= 0) {
            sim_output out = {};
            sim.now_us = now;
            sim_on_silence(&sim, &out);
            enqueue(&out);
            last_activity_us = now;
            return false;
        }
    }
    if (wait_us < 0 && wait_us != -1) {
        wait_us = 0;
    }
    timespec timeout = to_timespec(wait_us);
    pollfd p = {master_fd, POLLIN, 0};
    int r = ppoll(&p, 1, wait_us == -1 ? nullptr : &timeout, unblocked);
    if (r < 0) {
        return false; // EINTR: the signal flag is looked at by the caller
    }
    if (p.revents & POLLIN) {
        read_master();
    } else if (p.revents & (POLLHUP | POLLERR | POLLNVAL)) {
        tool_gone();
    }
    return false;
}

static int open_pty(char* slave_path, size_t size) {
    int fd = posix_openpt(O_RDWR | O_NOCTTY);
    if (fd < 0 || grantpt(fd) != 0 || unlockpt(fd) != 0 || ptsname_r(fd, slave_path, size) != 0) {
        perror("quelmar-sim: pseudo-terminal");
        return -1;
    }
    // A fresh slave echoes and turns CR into LF; make it raw through the master, so that no
    // slave descriptor of ours keeps the line open after the tool has gone.
    termios t;
    if (tcgetattr(fd, &t) != 0) {
        perror("quelmar-sim: tcgetattr");
        return -1;
    }
    cfmakeraw(&t);
    t.c_cflag |= CLOCAL | CREAD;
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    cfsetispeed(&t, B4800);
    cfsetospeed(&t, B4800);
    int one = 1;
    if (tcsetattr(fd, TCSANOW, &t) != 0 || ioctl(fd, TIOCPKT, &one) != 0) {
        perror("quelmar-sim: line settings");
        return -1;
    }
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    return fd;
}

static void remove_link() {
    if (options.link_path[0]) {
        unlink(options.link_path);
    }
}

static int finish(int signal_number) {
    remove_link();
    if (sim.failures) {
        fprintf(stderr, "quelmar-sim: %d check%s of the tool's behaviour failed\n", sim.failures,
                sim.failures == 1 ? "" : "s");
    }
    if (trace_file) {
        fprintf(trace_file, "%12.6f  exit: %d failed checks%s\n", (double)now_us() / 1e6,
                sim.failures, signal_number ? ", stopped by a signal" : "");
        fflush(trace_file);
    }
    if (signal_number) {
        return 0;
    }
    return sim.failures ? 1 : 0;
}

int main(int argc, char** argv) {
    char error[256] = "";
    switch (sim_parse_args(argc, argv, &options, error, sizeof error)) {
    case PARSE_HELP:
        fputs(sim_usage, stdout);
        return 0;
    case PARSE_ERROR:
        fprintf(stderr, "quelmar-sim: %s\n%s", error, sim_usage);
        return 2;
    case PARSE_OK:
        break;
    }
    start_us = 0;
    start_us = now_us();
    if (strcmp(options.trace_path, "-") == 0) {
        trace_file = stderr;
    } else if (options.trace_path[0]) {
        trace_file = fopen(options.trace_path, "w");
        if (!trace_file) {
            perror("quelmar-sim: trace file");
            return 2;
        }
        setvbuf(trace_file, nullptr, _IOLBF, 0);
    }
    pacing = sim_make_pacing(options.baud, options.reply_delay_ms, options.no_delay);
    if (options.baud > 0) {
        // Paced bytes are due to the microsecond; the default timer slack would let each wait
        // run up to 50 us late, which adds up over the hundred or so bytes of a poll.
        prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
    }

    sigset_t blocked, unblocked;
    sigemptyset(&blocked);
    sigaddset(&blocked, SIGINT);
    sigaddset(&blocked, SIGTERM);
    sigprocmask(SIG_BLOCK, &blocked, &unblocked);
    struct sigaction action = {};
    action.sa_handler = on_signal;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    signal(SIGPIPE, SIG_IGN);

    char slave_path[256];
    master_fd = open_pty(slave_path, sizeof slave_path);
    if (master_fd < 0) {
        return 2;
    }
    if (options.link_path[0]) {
        unlink(options.link_path);
        if (symlink(slave_path, options.link_path) != 0) {
            perror("quelmar-sim: --link");
            return 2;
        }
    }
    sim.trace = trace_file;
    sim.report = stderr;
    sim_init(&sim, &options.config);
    printf("%s\n", slave_path);
    fflush(stdout);
    if (trace_file) {
        fprintf(trace_file, "%12.6f  slave %s, %s\n", 0.0, slave_path,
                options.baud ? "paced" : "unpaced");
    }

    while (!stop_signal) {
        if (step(&unblocked)) {
            break;
        }
    }
    return finish(stop_signal);
}
