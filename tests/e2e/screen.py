"""The terminal as the user sees it: quelmar and the ECU simulator run in a private tmux
server at 80x25; the screen is read with capture-pane (characters and colours)."""

import os
import re
import subprocess
import time

# The five console colours as the terminal shows them: bright colours in the terminal's own
# numbering (red 1, green 2, yellow 3, blue 4, white 7; bright adds 8).
WHITE, YELLOW, RED, GREEN, BLUE = 15, 11, 9, 10, 12

_SGR = re.compile(r"\x1b\[([0-9;]*)m")


class Cell:
    __slots__ = ("ch", "fg", "bold")

    def __init__(self, ch=" ", fg=None, bold=False):
        self.ch, self.fg, self.bold = ch, fg, bold

    def colour(self):
        """The console colour the cell shows: a bright colour, or bold plus a base colour."""
        if self.fg is None:
            return None
        if self.fg < 8 and self.bold:
            return self.fg + 8
        return self.fg


def parse_capture(text, rows=25, columns=80):
    """capture-pane -p -e -N output into rows x columns cells. SGR state carries across lines."""
    screen = [[Cell() for _ in range(columns)] for _ in range(rows)]
    fg, bold = None, False
    for row, line in enumerate(text.split("\n")[:rows]):
        column = 0
        position = 0
        while position < len(line):
            match = _SGR.match(line, position)
            if match:
                codes = [int(c) if c else 0 for c in match.group(1).split(";")]
                i = 0
                while i < len(codes):
                    code = codes[i]
                    if code == 0:
                        fg, bold = None, False
                    elif code == 1:
                        bold = True
                    elif code == 22:
                        bold = False
                    elif 30 <= code <= 37:
                        fg = code - 30
                    elif code == 39:
                        fg = None
                    elif 90 <= code <= 97:
                        fg = code - 90 + 8
                    elif code == 38 and i + 2 < len(codes) and codes[i + 1] == 5:
                        fg = codes[i + 2]
                        i += 2
                    elif code == 48 and i + 2 < len(codes) and codes[i + 1] == 5:
                        i += 2
                    i += 1
                position = match.end()
                continue
            if line[position] == "\x1b":  # another sequence: skip it
                position += 1
                continue
            if column < columns:
                screen[row][column] = Cell(line[position], fg, bold)
            column += 1
            position += 1
    return screen


class Terminal:
    """A private tmux server with one 80x25 pane."""

    def __init__(self, workdir):
        self.workdir = workdir
        self.socket = "quelmar-e2e-%d-%d" % (os.getpid(), id(self))
        conf = os.path.join(workdir, "tmux.conf")
        with open(conf, "w") as f:
            f.write("set -g status off\n")
            f.write("set -g default-size 80x25\n")
            f.write("set -g remain-on-exit on\n")
            f.write("set -g default-terminal tmux-256color\n")
        self.base = ["tmux", "-L", self.socket, "-f", conf]
        self.started = False

    def tmux(self, *args, check=True):
        return subprocess.run(self.base + list(args), check=check, capture_output=True,
                              text=True).stdout

    def start(self, command):
        self.tmux("new-session", "-d", "-s", "t", "-x", "80", "-y", "25", command)
        self.started = True

    def capture(self):
        return parse_capture(self.tmux("capture-pane", "-p", "-e", "-N", "-t", "t"))

    def text(self):
        return [("".join(c.ch for c in row)) for row in self.capture()]

    def row(self, row):
        return self.text()[row]

    def keys(self, *keys):
        self.tmux("send-keys", "-t", "t", *keys)

    def literal(self, text):
        self.tmux("send-keys", "-t", "t", "-l", text)

    def pane_pid(self):
        return int(self.tmux("display", "-p", "-t", "t", "#{pane_pid}").strip())

    def wait_for(self, predicate, timeout=20.0, what="the screen"):
        end = time.monotonic() + timeout
        while True:
            screen = self.capture()
            if predicate(screen):
                return screen
            if time.monotonic() > end:
                dump = "\n".join("%2d|%s|" % (i, "".join(c.ch for c in r))
                                 for i, r in enumerate(screen))
                raise AssertionError("timed out waiting for %s; screen:\n%s" % (what, dump))
            time.sleep(0.05)

    def wait_for_text(self, row, text, timeout=20.0):
        return self.wait_for(lambda s: text in "".join(c.ch for c in s[row]), timeout,
                             "%r on row %d" % (text, row))

    def close(self):
        if self.started:
            self.tmux("kill-server", check=False)
            self.started = False


def row_text(screen, row, column=0, length=80):
    return "".join(c.ch for c in screen[row][column:column + length])


def colour_at(screen, column, row):
    return screen[row][column].colour()
