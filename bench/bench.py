#!/usr/bin/env python3
"""The benchmarks: the real program against the ECU simulator on a pty. Prints one table.

    bench/run.sh             builds build/ if needed and runs this
    bench/bench.py [--runs N] [--tool PATH] [--sim PATH]

Each figure is measured over several runs and shown as minimum / median / maximum.
"""
import argparse
import os
import re
import shutil
import statistics
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import qdrive  # noqa: E402

BAUD = 4800
BYTE_MS = 10 * 1000 / BAUD  # 10 bits a byte
POLL_BYTE_TIMES = (13 + 27) + (13 + 21)  # windows A and B: request with answers, reply with answers
POLL_LINE_MS = POLL_BYTE_TIMES * BYTE_MS
LINE_LIMIT = 1000 / POLL_LINE_MS
SETTLE_MS = 2000
WAKE_MS = 11 * 200
# Identification on the line: 6 answer bytes and the complement, three frames of 10 data bytes
# (14 bytes and 13 answers each), three acknowledge frames (4 bytes and 3 answers) and the ECU's
# closing frame (4 bytes and 3 answers).
ID_BYTE_TIMES = 6 + 1 + 3 * 27 + 3 * 7 + 7
ID_LINE_MS = ID_BYTE_TIMES * BYTE_MS
ERROR_INTERVAL = 20
# A collection from an empty error memory: the read-errors frame (4 bytes, 3 answers) and the
# ECU's frame titled 0x09 (4 bytes, 3 answers).
COLLECTION_BYTE_TIMES = 7 + 7
# Line changes of the wake-up, in 200 ms periods from the first one.
WAKE_EDGE_PERIODS = [0, 2, 7, 8, 11]


def spread(values, fmt="{:.2f}"):
    if not values:
        return "n/a"
    return " / ".join(fmt.format(v) for v in (min(values), statistics.median(values), max(values)))


def check(result, what):
    if result["tool_status"] != 0 or result["sim_status"] != 0 or result["errors_seen"]:
        raise SystemExit(f"bench: {what}: tool status {result['tool_status']}, simulator status "
                         f"{result['sim_status']}, error messages {result['errors_seen']}\n"
                         f"{result['sim_log']}")


def tool_reaction_ms(trace_path):
    """The tool's own time per poll, from the simulator's trace: from each byte the simulator
    put on the line to the tool's next byte, summed per poll; the median over the polls. This
    is the time the tool (with the pty in between) adds to the line's; the median leaves out
    the polls in which the machine did not run the tool at once."""
    pattern = re.compile(r"^\s*([\d.]+)\s+(ecu->tool|tool->ecu|frame tool: .*READ_RAM)")
    per_poll, requests, last_ecu = {}, 0, None
    with open(trace_path) as f:
        for line in f:
            m = pattern.match(line)
            if not m:
                continue
            t, what = float(m.group(1)), m.group(2)
            if what.startswith("frame tool"):
                requests += 1
            elif what == "ecu->tool":
                last_ecu = t
            elif last_ecu is not None:
                if requests > 0:
                    poll = (requests - 1) // 2
                    per_poll[poll] = per_poll.get(poll, 0.0) + t - last_ecu
                last_ecu = None
    whole = [1000 * v for k, v in per_poll.items() if 0 < k < max(per_poll)]
    return statistics.median(whole) if whole else float("nan")


def paced_runs(args):
    """Poll rate, CPU share and start-up at 4800 baud, with no reply delay."""
    polls = 2 * ERROR_INTERVAL + 5
    rates, shares, collection_ms, cpu_pct, startup_ms, peak_kib = [], [], [], [], [], []
    reaction_ms = []
    for _ in range(args.runs):
        trace = tempfile.mktemp(prefix="qbench-trace-")
        r = qdrive.run_session(args.tool, args.sim, polls,
                               sim_args=("--baud", str(BAUD), "--no-delay",
                                         "--trace", trace))
        check(r, "paced run")
        reaction_ms.append(tool_reaction_ms(trace))
        os.unlink(trace)
        t = r["poll_times"][:polls]
        # Interval i runs from the spinner of poll i+1 to that of poll i+2; the collection
        # follows polls 20 and 40.
        intervals = [(b - a) * 1000 for a, b in zip(t, t[1:])]
        collecting = {ERROR_INTERVAL - 1, 2 * ERROR_INTERVAL - 1}
        plain = [v for i, v in enumerate(intervals) if i not in collecting]
        rate = 1000 * len(plain) / sum(plain)
        rates.append(rate)
        shares.append(rate / LINE_LIMIT)
        typical = statistics.median(plain)
        collection_ms += [intervals[i] - typical for i in sorted(collecting)]
        first, last = r["first_poll"], r["at_polls"]
        cpu_pct.append(100 * (last["cpu"] - first["cpu"]) / (last["t"] - first["t"]))
        startup_ms.append((r["first_poll_at"] - r["started"]) * 1000)
        peak_kib.append(last["VmHWM"])
    return rates, shares, collection_ms, cpu_pct, startup_ms, peak_kib, reaction_ms


def unpaced_runs(args):
    polls = args.unpaced_polls
    rates, cpu_us, user_us, sys_us = [], [], [], []
    for _ in range(args.runs):
        r = qdrive.run_session(args.tool, args.sim, polls)
        check(r, "unpaced run")
        first, last = r["first_poll"], r["at_polls"]
        n = polls - 1
        rates.append(n / (r["poll_times"][polls - 1] - r["poll_times"][0]))
        cpu_us.append(1e6 * (last["cpu"] - first["cpu"]) / n)
        user_us.append(1e6 * (last["utime"] - first["utime"]) / n)
        sys_us.append(1e6 * (last["stime"] - first["stime"]) / n)
    return rates, cpu_us, user_us, sys_us


def wake_runs(args):
    """Largest deviation of the wake-up's line changes from the 200 ms grid, from strace."""
    if shutil.which("strace") is None:
        return None
    worst = []
    for _ in range(args.runs):
        trace = tempfile.mktemp(prefix="qbench-strace-")
        r = qdrive.run_session(args.tool, args.sim, 1,
                               wrapper=("strace", "--seccomp-bpf", "-f", "-ttt", "-e",
                                        "trace=ioctl", "-o", trace))
        check(r, "wake-up run")
        edges = []
        with open(trace) as f:
            for line in f:
                m = re.search(r"(\d+\.\d+) ioctl\(\d+, TIOC[SC]BRK", line)
                if m:
                    edges.append(float(m.group(1)))
        os.unlink(trace)
        # Opening the port takes the line out of break too; the wake-up's changes come last.
        if len(edges) < len(WAKE_EDGE_PERIODS):
            raise SystemExit(f"bench: only {len(edges)} line changes")
        edges = edges[-len(WAKE_EDGE_PERIODS):]
        t0 = edges[0]
        worst.append(max(abs((t - t0) * 1000 - k * 200) for t, k in zip(edges, WAKE_EDGE_PERIODS)))
    return worst


def heap_runs(args):
    """Heap allocations per poll after start-up: two runs of different length under heaptrack."""
    if shutil.which("heaptrack") is None or shutil.which("heaptrack_print") is None:
        return None
    counts = {}
    for polls in (args.heap_polls, 2 * args.heap_polls):
        out = tempfile.mktemp(prefix="qbench-heap-")
        r = qdrive.run_session(args.tool, args.sim, polls,
                               wrapper=("heaptrack", "-o", out))
        check(r, "heaptrack run")
        files = [f for f in os.listdir(os.path.dirname(out))
                 if f.startswith(os.path.basename(out))]
        path = os.path.join(os.path.dirname(out), files[0])
        report = subprocess.run(["heaptrack_print", "-f", path, "--print-leaks", "0",
                                 "--print-peaks", "0", "--print-allocators", "0",
                                 "--print-temporary", "0"],
                                capture_output=True, text=True).stdout
        os.unlink(path)
        m = re.search(r"calls to allocation functions: (\d+)", report)
        counts[polls] = (int(m.group(1)), r["polls"])
    (a, pa), (b, pb) = counts[args.heap_polls], counts[2 * args.heap_polls]
    return (b - a) / (pb - pa), a, b, pa, pb


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    build = os.path.join(here, "..", "build")
    parser = argparse.ArgumentParser()
    parser.add_argument("--runs", type=int, default=3)
    parser.add_argument("--tool", default=os.path.join(build, "quelmar"))
    parser.add_argument("--sim", default=os.path.join(build, "sim", "quelmar-sim"))
    parser.add_argument("--unpaced-polls", type=int, default=2000)
    parser.add_argument("--heap-polls", type=int, default=200)
    args = parser.parse_args()

    rates, shares, collection_ms, cpu_pct, startup_ms, peak_kib, reaction_ms = paced_runs(args)
    u_rates, u_cpu, u_user, u_sys = unpaced_runs(args)
    wake = wake_runs(args)
    heap = heap_runs(args)

    startup_expected = SETTLE_MS + WAKE_MS + ID_LINE_MS
    rows = [
        ("1. poll rate at 4800 baud, ECU without delays (polls/s)", spread(rates), "limit %.2f" %
         LINE_LIMIT),
        ("   ratio to the line limit", spread(shares, "{:.3f}"), ">= 0.97"),
        ("   the tool's own time per poll, from the trace (ms)", spread(reaction_ms), ""),
        ("   ratio to the line limit over an ideal line (derived)",
         spread([POLL_LINE_MS / (POLL_LINE_MS + t) for t in reaction_ms], "{:.3f}"),
         ">= 0.97"),
        ("   error collection on the 20th poll (ms, added)", spread(collection_ms, "{:.1f}"),
         "line %.1f with an empty memory" % (COLLECTION_BYTE_TIMES * BYTE_MS)),
        ("2. unpaced poll rate (polls/s)", spread(u_rates, "{:.0f}"), ""),
        ("   CPU per poll, user + system (us)", spread(u_cpu, "{:.1f}"), ""),
        ("   of which user / system, 10 ms ticks (us)",
         "%.0f / %.0f" % (statistics.median(u_user), statistics.median(u_sys)), "median"),
        ("   CPU use at 4800 baud (%)", spread(cpu_pct, "{:.3f}"), "< 1"),
        ("3. wake-up: largest deviation from the 200 ms grid (ms)",
         spread(wake, "{:.3f}") if wake else "no strace", "<= 1"),
        ("4. start-up to the first poll (ms)", spread(startup_ms, "{:.0f}"),
         "fixed %.0f (2000 + 11 x 200 + %.0f line)" % (startup_expected, ID_LINE_MS)),
        ("   of which beyond the fixed waits and line time (ms)",
         spread([s - startup_expected for s in startup_ms], "{:.0f}"), ""),
        ("5. peak RSS (KiB)", spread(peak_kib, "{:.0f}"), ""),
        ("   heap allocations per poll after start-up",
         "%.3f" % heap[0] if heap else "no heaptrack",
         "target 0" + (" (%d at %d polls, %d at %d)" % (heap[1], heap[3], heap[2], heap[4])
                       if heap else "")),
    ]
    width = max(len(r[0]) for r in rows)
    vwidth = max(len(r[1]) for r in rows)
    print("%-*s  %-*s  %s" % (width, "benchmark (%d runs: min / median / max)" % args.runs,
                              vwidth, "measured", "target or reference"))
    for name, value, target in rows:
        print("%-*s  %-*s  %s" % (width, name, vwidth, value, target))
    return 0


if __name__ == "__main__":
    sys.exit(main())
