// The real program on a real pty: the test plays the tool on the slave side.
#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>
#include <vector>

namespace {

typedef std::vector<uint8_t> bytes;

long long now_ms() {
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec * 1000LL + t.tv_nsec / 1000000;
}

struct tool_on_pty : testing::Test {
    pid_t pid = -1;
    int out_pipe = -1;
    int fd = -1;
    std::string slave;
    std::string link = "/tmp/quelmar-sim-test-link-" + std::to_string(getpid());

    void TearDown() override {
        if (fd >= 0) {
            close(fd);
        }
        if (pid > 0) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
        if (out_pipe >= 0) {
            close(out_pipe);
        }
        unlink(link.c_str());
    }

    void run_sim(std::vector<std::string> args) {
        int p[2];
        ASSERT_EQ(pipe(p), 0);
        args.insert(args.begin(), QUELMAR_SIM_PROGRAM);
        pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            dup2(p[1], 1);
            close(p[0]);
            close(p[1]);
            std::vector<char*> argv;
            for (std::string& a : args) {
                argv.push_back(&a[0]);
            }
            argv.push_back(nullptr);
            execv(argv[0], argv.data());
            _exit(127);
        }
        close(p[1]);
        out_pipe = p[0];
        char line[256];
        size_t n = 0;
        while (n < sizeof line - 1) {
            pollfd w = {out_pipe, POLLIN, 0};
            ASSERT_EQ(poll(&w, 1, 3000), 1) << "the simulator printed no slave path";
            ssize_t k = read(out_pipe, line + n, 1);
            ASSERT_EQ(k, 1);
            if (line[n] == '\n') {
                break;
            }
            n++;
        }
        slave.assign(line, n);
    }

    // The tool's side of the line: raw 8N1 4800, as the tool sets it.
    void open_slave() {
        fd = open(slave.c_str(), O_RDWR | O_NOCTTY);
        ASSERT_GE(fd, 0) << slave;
        termios t;
        ASSERT_EQ(tcgetattr(fd, &t), 0);
        cfmakeraw(&t);
        t.c_cflag |= CLOCAL | CREAD;
        t.c_cc[VMIN] = 0;
        t.c_cc[VTIME] = 0;
        cfsetispeed(&t, B4800);
        cfsetospeed(&t, B4800);
        ASSERT_EQ(tcsetattr(fd, TCSANOW, &t), 0);
    }

    // Reads up to n bytes within 2000 ms, as the tool's port does.
    bytes read_line(size_t n) {
        bytes got;
        long long deadline = now_ms() + 2000;
        while (got.size() < n) {
            long long left = deadline - now_ms();
            pollfd p = {fd, POLLIN, 0};
            if (left <= 0 || poll(&p, 1, (int)left) != 1) {
                break;
            }
            uint8_t buf[64];
            ssize_t k = read(fd, buf, n - got.size());
            if (k <= 0) {
                break;
            }
            got.insert(got.end(), buf, buf + k);
        }
        return got;
    }

    int read_byte() {
        bytes b = read_line(1);
        return b.empty() ? -1 : b[0];
    }

    // Writes one byte and takes its echo.
    void write_byte(uint8_t b) {
        ASSERT_EQ(write(fd, &b, 1), 1);
        ASSERT_EQ(read_byte(), b) << "echo";
    }

    void send_frame(uint8_t counter, uint8_t title, const bytes& data = {}) {
        bytes frame = {(uint8_t)(data.size() + 3), counter, title};
        frame.insert(frame.end(), data.begin(), data.end());
        for (uint8_t b : frame) {
            write_byte(b);
            ASSERT_EQ(read_byte(), b ^ 0xFF) << "complement";
        }
        write_byte(0x03);
    }

    bytes receive_frame() {
        bytes frame;
        int length = read_byte();
        if (length < 0) {
            return frame;
        }
        frame.push_back((uint8_t)length);
        write_byte((uint8_t)(length ^ 0xFF));
        for (int i = 0; i < length - 1; i++) {
            int b = read_byte();
            if (b < 0) {
                return frame;
            }
            frame.push_back((uint8_t)b);
            write_byte((uint8_t)(b ^ 0xFF));
        }
        int end = read_byte();
        if (end >= 0) {
            frame.push_back((uint8_t)end);
        }
        return frame;
    }

    // The wake-up and identification; returns the counter of the first request.
    uint8_t wake_up() {
        EXPECT_EQ(tcflush(fd, TCIOFLUSH), 0);
        bytes answer = read_line(6);
        EXPECT_EQ(answer.size(), 6u);
        if (answer.size() < 6) {
            return 0;
        }
        write_byte(answer[2] ^ 0xFF);
        int total = 0;
        bytes frame;
        while (total < 30) {
            frame = receive_frame();
            if (frame.size() < 2) {
                ADD_FAILURE() << "identification frame missing";
                return 0;
            }
            total += frame[0] - 3;
            send_frame((uint8_t)(frame[1] + 1), 0x09);
        }
        frame = receive_frame();
        EXPECT_EQ(frame.size(), 4u);
        return frame.size() > 1 ? (uint8_t)(frame[1] + 1) : 0;
    }

    // Waits up to 3 s for the simulator to end; returns its exit status or -1.
    int wait_exit() {
        for (int i = 0; i < 300; i++) {
            int status = 0;
            pid_t r = waitpid(pid, &status, WNOHANG);
            if (r == pid) {
                pid = -1;
                return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            }
            usleep(10000);
        }
        return -1;
    }
};

TEST_F(tool_on_pty, full_session_with_frozen_ram_and_exit_when_the_tool_goes_away) {
    run_sim({"--link", link, "--ram", "2000=3c,55,a0,60,0c,14,3c,58,06,80", "--faults", "1:0:5"});
    char target[PATH_MAX] = {};
    ASSERT_GT(readlink(link.c_str(), target, sizeof target - 1), 0);
    EXPECT_EQ(slave, target);

    open_slave();
    // Bytes before the purge are echoed but start nothing.
    write_byte(0x42);
    uint8_t n = wake_up();
    send_frame(n, 0x01, {10, 0x20, 0x00});
    bytes reply = receive_frame();
    bytes expected = {
        0x0D, (uint8_t)(n + 1), 0xFE, 0x3C, 0x55, 0xA0, 0x60, 0x0C, 0x14, 0x3C, 0x58, 0x06, 0x80,
        0x03};
    EXPECT_EQ(reply, expected);
    n = (uint8_t)(reply[1] + 1);
    send_frame(n, 0x01, {7, 0x20, 0x10});
    reply = receive_frame();
    ASSERT_EQ(reply.size(), 11u);
    n = (uint8_t)(reply[1] + 1);
    send_frame(n, 0x07);
    reply = receive_frame();
    EXPECT_EQ(reply, (bytes{0x08, (uint8_t)(n + 1), 0xFC, 1, 0, 0, 0, 5, 0x03}));

    close(fd);
    fd = -1;
    EXPECT_EQ(wait_exit(), 0) << "the tool went away with every check held";
    struct stat st;
    EXPECT_NE(lstat(link.c_str(), &st), 0) << "the symlink is removed at exit";
}

TEST_F(tool_on_pty, a_wrong_counter_makes_the_exit_status_non_zero) {
    run_sim({});
    open_slave();
    uint8_t n = wake_up();
    send_frame((uint8_t)(n + 1), 0x01, {10, 0x20, 0x00});
    receive_frame();
    close(fd);
    fd = -1;
    EXPECT_EQ(wait_exit(), 1);
}

TEST_F(tool_on_pty, sigterm_removes_the_link_and_exits_zero) {
    run_sim({"--link", link});
    kill(pid, SIGTERM);
    EXPECT_EQ(wait_exit(), 0);
    struct stat st;
    EXPECT_NE(lstat(link.c_str(), &st), 0);
}

} // namespace
