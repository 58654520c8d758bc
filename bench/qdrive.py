"""Drives the real program against the ECU simulator on a pty, for the benchmarks and the soak.

The tool runs on a pseudo-terminal of 80x25 with TERM=xterm, so its console writer works as it
does for a user. A poll is counted at the spinner: every poll starts by writing its glyph at
column 16 of row 3, and the writer positions the cursor there for it ("ESC [4;17H").
After the wanted number of polls the driver types "q" and waits for both programs to end; the
simulator's exit status is 0 only when every check of the tool's behaviour held.
"""
import fcntl
import os
import select
import struct
import subprocess
import tempfile
import termios
import time

SPINNER_MOVE = b"\x1b[4;17H"
ERROR_MARK = b"Error in"
CLOCK_TICK = os.sysconf("SC_CLK_TCK")


def proc_sample(pid):
    """Memory, descriptors and CPU of a running process, from /proc."""
    sample = {"t": time.monotonic()}
    try:
        with open(f"/proc/{pid}/status") as f:
            for line in f:
                key, _, value = line.partition(":")
                if key in ("VmRSS", "VmHWM"):
                    sample[key] = int(value.split()[0])
        sample["fds"] = len(os.listdir(f"/proc/{pid}/fd"))
        with open(f"/proc/{pid}/stat") as f:
            fields = f.read().rsplit(")", 1)[1].split()
        sample["utime"] = int(fields[11]) / CLOCK_TICK
        sample["stime"] = int(fields[12]) / CLOCK_TICK
        with open(f"/proc/{pid}/schedstat") as f:
            sample["cpu"] = int(f.read().split()[0]) / 1e9  # on-CPU time, user and system
    except (FileNotFoundError, ProcessLookupError, IndexError):
        return None
    return sample


def _controlling_tty():
    fcntl.ioctl(0, termios.TIOCSCTTY, 0)


def run_session(tool, sim, polls, sim_args=(), wrapper=(), sample_every=None, keep_times=True,
                limit_s=3600):
    """Runs one session of `polls` polls. Returns a dict of what was seen."""
    work = tempfile.mkdtemp(prefix="qdrive-")
    link = os.path.join(work, "ecu")
    sim_log = open(os.path.join(work, "sim.log"), "w+")
    sim_proc = subprocess.Popen([sim, "--link", link, *sim_args], stdout=sim_log,
                                stderr=subprocess.STDOUT)
    deadline = time.monotonic() + 10
    while not os.path.exists(link):
        if time.monotonic() > deadline or sim_proc.poll() is not None:
            sim_proc.kill()
            raise RuntimeError("the simulator did not make its link")
        time.sleep(0.01)

    master, slave = os.openpty()
    fcntl.ioctl(slave, termios.TIOCSWINSZ, struct.pack("HHHH", 25, 80, 0, 0))
    env = dict(os.environ, TERM="xterm", LINES="25", COLUMNS="80")
    started = time.monotonic()
    tool_proc = subprocess.Popen([*wrapper, tool, link], stdin=slave, stdout=slave, stderr=slave,
                                 env=env, start_new_session=True, preexec_fn=_controlling_tty)
    os.close(slave)

    result = {"poll_times": [], "samples": [], "errors_seen": 0, "started": started}
    count = 0
    tail = b""
    last_output = b""
    quit_sent = False
    next_sample = started
    end_by = started + limit_s
    first_sample = None
    while True:
        now = time.monotonic()
        if sample_every is not None and now >= next_sample and count > 0:
            s = proc_sample(tool_proc.pid)
            if s is not None:
                s["polls"] = count
                result["samples"].append(s)
                first_sample = first_sample or s
            next_sample = now + sample_every
        if now > end_by:
            tool_proc.kill()
            result["timed_out"] = True
            break
        ready, _, _ = select.select([master], [], [], 0.2)
        if ready:
            try:
                chunk = os.read(master, 65536)
            except OSError:
                chunk = b""
            if not chunk:
                break
            seen_at = time.monotonic()
            # The last bytes of the previous read go in front, so that a sequence split
            # between two reads is seen; what lay wholly in them was counted then.
            data = tail + chunk
            found = data.count(SPINNER_MOVE) - tail.count(SPINNER_MOVE)
            for _ in range(found):
                count += 1
                if keep_times:
                    result["poll_times"].append(seen_at)
                if count == 1:
                    result["first_poll"] = proc_sample(tool_proc.pid)
                    result["first_poll_at"] = seen_at
                if count == polls:
                    result["at_polls"] = proc_sample(tool_proc.pid)
            result["errors_seen"] += data.count(ERROR_MARK) - tail.count(ERROR_MARK)
            tail = data[-16:]
            last_output = (last_output + chunk)[-65536:]
            if count >= polls and not quit_sent:
                os.write(master, b"q")
                quit_sent = True
        elif tool_proc.poll() is not None:
            break
    result["tool_status"] = tool_proc.wait()
    os.close(master)
    try:
        result["sim_status"] = sim_proc.wait(timeout=10)
    except subprocess.TimeoutExpired:
        sim_proc.kill()
        result["sim_status"] = "did not end"
    sim_log.seek(0)
    result["sim_log"] = sim_log.read()
    sim_log.close()
    result["polls"] = count
    result["last_output"] = last_output
    result["work"] = work
    return result
