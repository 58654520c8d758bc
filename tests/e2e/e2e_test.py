"""End-to-end: the real quelmar against the ECU simulator, in tmux at 80x25.

Each test starts its own simulator and its own private tmux server, so tests can run in
parallel. QUELMAR and QUELMAR_SIM name the programs (ctest sets them)."""

import os
import signal
import subprocess
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from screen import (BLUE, GREEN, RED, WHITE, YELLOW, Terminal, colour_at,  # noqa: E402
                    row_text)

QUELMAR = os.environ.get("QUELMAR", "build/quelmar")
QUELMAR_SIM = os.environ.get("QUELMAR_SIM", "build/sim/quelmar-sim")


def cpu_seconds(pid):
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


class session(unittest.TestCase):
    """One run: a simulator on a pty, the tool in a tmux pane, the shell around it recording
    the terminal's settings before and after and the tool's exit status."""

    sim_arguments = []

    def setUp(self):
        self.workdir = tempfile.mkdtemp(prefix="quelmar-e2e-")
        self.link = os.path.join(self.workdir, "ecu")
        self.sim = None
        self.terminal = Terminal(self.workdir)

    def tearDown(self):
        self.terminal.close()
        if self.sim is not None and self.sim.poll() is None:
            self.sim.send_signal(signal.SIGTERM)
            try:
                self.sim.wait(5)
            except subprocess.TimeoutExpired:
                self.sim.kill()

    def start_sim(self, *arguments):
        self.sim = subprocess.Popen([QUELMAR_SIM, "--link", self.link] + list(arguments),
                                    stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        first = self.sim.stdout.readline().strip()
        self.assertTrue(first.startswith("/dev/"), "simulator said %r" % first)
        end = time.monotonic() + 5
        while not os.path.exists(self.link) and time.monotonic() < end:
            time.sleep(0.02)
        return first

    def start_tool(self, port=None):
        port = self.link if port is None else port
        w = self.workdir
        # The shell stays after the tool, so that tmux writes no "pane is dead" line over the
        # tool's last screen.
        # The trap keeps the shell alive through a Ctrl-C meant for the tool (a trapped signal is
        # back to its default in the child).
        script = ("trap : INT; stty -g > {w}/stty.before; {tool} {port}; s=$?; stty -g > {w}/stty.after; "
                  "echo $s > {w}/status; exec sleep 3600").format(w=w, tool=os.path.abspath(QUELMAR),
                                                     port=port)
        self.terminal.start("sh -c '%s'" % script)

    def tool_status(self, timeout=20.0):
        path = os.path.join(self.workdir, "status")
        end = time.monotonic() + timeout
        while True:
            try:
                with open(path) as f:
                    text = f.read().strip()
                if text:
                    return int(text)
            except FileNotFoundError:
                pass
            if time.monotonic() > end:
                self.fail("the tool did not end; screen:\n" + "\n".join(self.terminal.text()))
            time.sleep(0.05)

    def stty(self, which):
        with open(os.path.join(self.workdir, "stty." + which)) as f:
            return f.read().strip()

    def tool_pid(self):
        shell = self.terminal.pane_pid()
        end = time.monotonic() + 5
        while time.monotonic() < end:
            try:
                with open("/proc/%d/task/%d/children" % (shell, shell)) as f:
                    children = f.read().split()
                if children:
                    return int(children[0])
            except FileNotFoundError:
                pass
            time.sleep(0.02)
        self.fail("no tool process under the pane")

    def wait_for_polling(self):
        """Until the live values show: the wake-up and identification are over."""
        return self.terminal.wait_for_text(5, "Revs:", timeout=30)

    def wait_for_error_rows(self, text):
        return self.terminal.wait_for_text(13, text, timeout=60)


class start_up(session):
    def test_start_up_screen_wake_up_and_identification(self):
        self.start_sim()
        self.start_tool()
        t = self.terminal
        screen = t.wait_for_text(4, "Initialising comms: 1")
        self.assertEqual(colour_at(screen, 0, 4), BLUE)
        # The last digit stands only until the wake-up ends: the one before it for 200 ms.
        screen = t.wait_for_text(4, "Initialising comms: 1100000100", timeout=10)
        screen = self.wait_for_polling()
        self.assertEqual(row_text(screen, 0, 0, 29), "Quelmar console version 1.01b")
        self.assertEqual(colour_at(screen, 0, 0), WHITE)
        self.assertTrue(row_text(screen, 1).startswith("Written by"))
        self.assertEqual(row_text(screen, 2).strip(), "")
        self.assertEqual(row_text(screen, 3, 0, 15), "Hit 'q' to quit")
        self.assertEqual(colour_at(screen, 0, 3), YELLOW)
        self.assertIn(row_text(screen, 3, 16, 1), "\\|/-")
        self.assertEqual(row_text(screen, 4, 0, 32), " " * 32, "the wake-up text is erased")
        id_line = row_text(screen, 21)
        self.assertRegex(id_line, r"^ECU ID: ([0-9A-F]{2}-){5}[0-9A-F]{2}\*+ *$")
        self.assertEqual(colour_at(screen, 0, 21), GREEN)
        self.assertEqual(colour_at(screen, 25, 21), GREEN)
        t.literal("q")
        self.assertEqual(self.tool_status(), 0)

    def test_port_that_cannot_be_opened_ends_with_status_1_and_the_message_stays(self):
        self.start_tool(port="/nonexistent/ttyUSB9")
        self.assertEqual(self.tool_status(), 1)
        text = self.terminal.text()
        self.assertIn("Attempting to open the comms port '\\\\.\\com/nonexistent/ttyUSB9'...",
                      text[2])
        self.assertIn("Unable to open serial port; quiting.", text[3])
        self.assertEqual(self.stty("before"), self.stty("after"))


class live_values(session):
    # A known RAM image: 800 rpm, water raw 215 (106, yellow), air raw 80 (19), throttle raw 12
    # (5), air flow 49.6 -> fine 0.2 x 100 = 20, advance raw 64 (30), injection 0.768 -> fine
    # 51 / 255 = 0.2; battery raw 185 (13.0, green), speed 50, lambda raw 92 (0.45),
    # integrator raw 140 (9).
    RAM = ["--ram", "2000=3e,50,d7,50,0c,1f,64,40,02,33",
           "--ram", "2010=b9,32,00,00,5c,00,8c"]

    def test_values_show_at_their_columns_in_their_colours(self):
        self.start_sim(*self.RAM)
        self.start_tool()
        screen = self.terminal.wait_for_text(10, "Int. lambda:", timeout=30)
        expected = {
            5: ("Revs:           800 rpm", "Water temp:     106 degrees"),
            6: ("Air temp:       19 degrees", "Throttle:       5 degrees"),
            7: ("Mass air flow:  20 m^3/hr", "Ign. advance:   30 degrees"),
            8: ("Injector time:  0.2 ms", "Battery:        13.0 V"),
            9: ("Speed:          50 kph", "Lambda:         0.45 V"),
            10: ("Int. lambda:    9 %", None),
        }
        for row, (left, right) in expected.items():
            self.assertEqual(row_text(screen, row, 0, 40).rstrip(), left, "row %d" % row)
            if right is not None:
                self.assertEqual(row_text(screen, row, 40, 40).rstrip(), right, "row %d" % row)
        self.assertEqual(colour_at(screen, 16, 5), GREEN)
        self.assertEqual(colour_at(screen, 56, 5), YELLOW)
        self.assertEqual(colour_at(screen, 56, 8), GREEN)
        self.terminal.literal("q")
        self.assertEqual(self.tool_status(), 0)


class error_memory(session):
    FAULTS = ["--faults", "1:0x00:5,2:0x06:64,45:0x0c:200"]

    def test_error_rows_show_after_the_20th_poll_and_D_clears_them(self):
        self.start_sim(*self.FAULTS)
        self.start_tool()
        self.wait_for_polling()
        screen = self.wait_for_error_rows("(5) ECU internal RAM error")
        self.assertEqual(colour_at(screen, 0, 13), YELLOW)
        self.assertEqual(row_text(screen, 14).rstrip(),
                         "(64) Idle actuator (closing) s/c to ground")
        self.assertEqual(colour_at(screen, 0, 14), RED)
        self.assertEqual(row_text(screen, 15).rstrip(),
                         "(200) Water temperature sensor implausible")
        self.assertEqual(row_text(screen, 16).strip(), "")

        self.terminal.literal("D")
        # The rows keep their text until the next collection, which finds the memory empty.
        self.terminal.wait_for(lambda s: row_text(s, 13).strip() == "", timeout=60,
                               what="the error rows cleared")
        self.terminal.literal("Q")
        self.assertEqual(self.tool_status(), 0)


class keys(session):
    def test_cursor_and_function_keys_neither_clear_nor_quit(self):
        self.start_sim("--faults", "1:0x00:5")
        self.start_tool()
        self.wait_for_polling()
        self.wait_for_error_rows("(5) ECU internal RAM error")
        # Left arrow is ESC [ D, Page Down ESC [ 6 ~, F4 ESC O S: none may act as D or Q.
        self.terminal.keys("Left", "NPage", "F4", "Right", "Up")
        spinner_before = row_text(self.terminal.capture(), 3, 16, 1)
        self.terminal.wait_for(lambda s: row_text(s, 3, 16, 1) != spinner_before, timeout=10,
                               what="the spinner turning")
        time.sleep(6)  # past the next collection (20 polls)
        screen = self.terminal.capture()
        self.assertIn("(5) ECU internal RAM error", row_text(screen, 13))
        self.assertFalse(os.path.exists(os.path.join(self.workdir, "status")),
                         "the tool is still running")
        self.terminal.literal("q")
        self.assertEqual(self.tool_status(), 0)
        screen = self.terminal.capture()
        self.assertEqual(row_text(screen, 22, 0, 6), "Bye...")
        self.assertEqual(self.stty("before"), self.stty("after"))


class terminal_state(session):
    def test_ctrl_c_restores_the_terminal_and_leaves_the_screen(self):
        self.start_sim()
        self.start_tool()
        self.wait_for_polling()
        self.terminal.keys("C-c")
        self.assertEqual(self.tool_status(), 130, "ended by the interrupt")
        self.assertEqual(self.stty("before"), self.stty("after"))
        self.assertEqual(row_text(self.terminal.capture(), 3, 0, 15), "Hit 'q' to quit")

    def test_simulator_killed_under_the_tool_no_busy_loop_and_q_still_quits(self):
        self.start_sim()
        self.start_tool()
        self.wait_for_polling()
        pid = self.tool_pid()
        self.sim.kill()
        self.sim.wait()
        time.sleep(0.5)
        before = cpu_seconds(pid)
        time.sleep(2.0)
        used = cpu_seconds(pid) - before
        self.assertLess(used, 0.2, "the tool used %.2f s of CPU in 2 s" % used)
        started = time.monotonic()
        self.terminal.literal("q")
        self.assertEqual(self.tool_status(), 0)
        self.assertLess(time.monotonic() - started, 5.0)
        self.assertEqual(self.stty("before"), self.stty("after"))


if __name__ == "__main__":
    unittest.main()
