// The serial line on termios. The total read time-out of a longer read is a poll() loop against
// a deadline on the monotonic clock: VMIN/VTIME alone would time only the gap between bytes.
#include "platform/serial_line.h"

#include "platform/clock.h"
#include "platform/deadline.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

struct serial_line {
    int fd;
    uint32_t read_timeout_ms;
    bool driver_times_one_byte; // VTIME holds the read time-out
    bool lost;                  // hung up or gone: nothing will come any more
};

static const char WINDOWS_PREFIX[] = "\\\\.\\com";
constexpr int COM_PORT_MAX = 256;

// "\\.\comN" (N from 1 to 256) is the N-th serial port, /dev/ttyS<N-1>; "\\.\com/dev/..." and
// a bare path name a device directly. False for anything else.
static bool device_path(const char* name, char* path, size_t size) {
    size_t prefix = sizeof WINDOWS_PREFIX - 1;
    const char* rest = strncmp(name, WINDOWS_PREFIX, prefix) == 0 ? name + prefix : name;
    if (rest[0] == '/') {
        return size_t(snprintf(path, size, "%s", rest)) < size;
    }
    if (rest == name || rest[0] < '1' || rest[0] > '9') {
        return false;
    }
    char* end = nullptr;
    long number = strtol(rest, &end, 10);
    if (*end != '\0' || number < 1 || number > COM_PORT_MAX) {
        return false;
    }
    snprintf(path, size, "/dev/ttyS%ld", number - 1);
    return true;
}

serial_line* line_open(const char* device_name) {
    char path[256];
    if (!device_path(device_name, path, sizeof path)) {
        return nullptr;
    }
    // O_NONBLOCK: a real port would otherwise wait here for its carrier.
    int fd = open(path, O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        return nullptr;
    }
    // Unshared: another holder of the lock (another run of this program, or any program that
    // locks too) makes the open fail. TIOCEXCL also keeps out programs without privileges.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        close(fd);
        return nullptr;
    }
    ioctl(fd, TIOCEXCL);
    int flags = fcntl(fd, F_GETFL);
    fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    serial_line* line = new serial_line{fd, 0, false, false};
    return line;
}

static speed_t speed_for(uint32_t baud_rate) {
    switch (baud_rate) {
    case 1200:
        return B1200;
    case 2400:
        return B2400;
    case 9600:
        return B9600;
    case 19200:
        return B19200;
    case 38400:
        return B38400;
    default:
        return B4800;
    }
}

void line_set_format(serial_line* line, uint32_t baud_rate) {
    termios settings;
    if (tcgetattr(line->fd, &settings) != 0) {
        return; // not a terminal: nothing to set, as a driver that refuses the settings
    }
    cfmakeraw(&settings);
    settings.c_cflag &= tcflag_t(~(CSIZE | PARENB | CSTOPB | CRTSCTS));
    settings.c_cflag |= CS8 | CLOCAL | CREAD;
    settings.c_iflag &= tcflag_t(~(IXON | IXOFF | IXANY | INPCK));
    settings.c_iflag |= IGNBRK;
    settings.c_cc[VMIN] = 0;
    settings.c_cc[VTIME] = 0;
    cfsetispeed(&settings, speed_for(baud_rate));
    cfsetospeed(&settings, speed_for(baud_rate));
    tcsetattr(line->fd, TCSANOW, &settings);

    // DTR and RTS off. A pty has no modem lines; the failure is ignored.
    int lines = TIOCM_DTR | TIOCM_RTS;
    ioctl(line->fd, TIOCMBIC, &lines);
    // USB adapters otherwise hold every byte they receive for up to 16 ms. Not every driver
    // knows the setting; the failure is ignored.
    serial_struct serial;
    if (ioctl(line->fd, TIOCGSERIAL, &serial) == 0) {
        serial.flags |= ASYNC_LOW_LATENCY;
        ioctl(line->fd, TIOCSSERIAL, &serial);
    }
}

void line_set_read_timeout(serial_line* line, uint32_t total_ms) {
    line->read_timeout_ms = total_ms;
    // For the one-byte reads of the handshake the driver's own timer does the waiting: with
    // VMIN 0 a read returns the byte as soon as it comes, or nothing when VTIME (tenths of a
    // second) has passed. One call a byte instead of poll and read; longer reads and time-outs
    // that VTIME cannot hold go through the poll loop.
    termios settings;
    if (total_ms % 100 == 0 && total_ms / 100 <= 255 && tcgetattr(line->fd, &settings) == 0) {
        settings.c_cc[VMIN] = 0;
        settings.c_cc[VTIME] = cc_t(total_ms / 100);
        line->driver_times_one_byte = tcsetattr(line->fd, TCSANOW, &settings) == 0;
    }
}

// A one-byte read timed by the driver. False when it did not settle the read: nothing came,
// and whether the line has gone or time is left is for the poll loop to find out.
static bool read_one_byte_timed_by_driver(serial_line* line, uint8_t* destination) {
    ssize_t n = read(line->fd, destination, 1);
    return n == 1;
}

static bool hung_up(const pollfd& p) {
    return (p.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0 && (p.revents & POLLIN) == 0;
}

// A lost line reads nothing; the short wait keeps a loop of exchanges from spinning.
static uint32_t lost_line_read(deadline read_deadline, uint32_t got) {
    int64_t wait_us = deadline_remaining_us(read_deadline);
    if (wait_us > int64_t(LOST_LINE_READ_MS) * 1000) {
        wait_us = int64_t(LOST_LINE_READ_MS) * 1000;
    }
    sleep_until_us(clock_now_us() + wait_us);
    return got;
}

uint32_t line_read(serial_line* line, uint8_t* destination, uint32_t count) {
    deadline read_deadline = deadline_after_ms(line->read_timeout_ms);
    if (count == 1 && line->driver_times_one_byte && !line->lost &&
        read_one_byte_timed_by_driver(line, destination)) {
        return 1;
    }
    uint32_t got = 0;
    while (got < count) {
        if (line->lost) {
            return lost_line_read(read_deadline, got);
        }
        int64_t left_us = deadline_remaining_us(read_deadline);
        if (left_us == 0) {
            break;
        }
        pollfd p = {line->fd, POLLIN, 0};
        int ready = poll(&p, 1, int((left_us + 999) / 1000));
        if (ready < 0) {
            if (errno == EINTR) {
                continue;
            }
            line->lost = true;
            continue;
        }
        if (ready == 0) {
            continue; // the deadline decides
        }
        if (hung_up(p)) {
            line->lost = true;
            continue;
        }
        ssize_t n = read(line->fd, destination + got, count - got);
        if (n > 0) {
            got += uint32_t(n);
        } else if (n == 0 || (errno != EINTR && errno != EAGAIN)) {
            line->lost = true; // POLLIN and nothing to read: the other end has gone
        }
    }
    return got;
}

uint32_t line_write(serial_line* line, const uint8_t* source, uint32_t count) {
    uint32_t put = 0;
    while (put < count && !line->lost) {
        ssize_t n = write(line->fd, source + put, count - put);
        if (n > 0) {
            put += uint32_t(n);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else {
            line->lost = true;
        }
    }
    return put;
}

void line_break_on(serial_line* line) {
    ioctl(line->fd, TIOCSBRK);
}

void line_break_off(serial_line* line) {
    ioctl(line->fd, TIOCCBRK);
}

void line_purge(serial_line* line) {
    tcflush(line->fd, TCIOFLUSH);
}

void line_close(serial_line* line) {
    close(line->fd);
    delete line;
}
