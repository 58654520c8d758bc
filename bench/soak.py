#!/usr/bin/env python3
"""The soak: the real program against the unpaced simulator for many polls.

    bench/soak.py [--polls 100000] [--sample-every 5] [--faults C:S:V,...]

The simulator holds stored faults (by default two), so that every 20th poll's collection
carries records and the error rows are written.

Passes when the simulator's checks of every frame held (its exit status 0), no error message
appeared on the tool's screen, the tool quit with status 0, and its memory (RSS) and open
descriptors stayed flat from the first sample to the last. Prints the figures.
"""
import argparse
import os
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import qdrive  # noqa: E402


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    build = os.path.join(here, "..", "build")
    parser = argparse.ArgumentParser()
    parser.add_argument("--polls", type=int, default=100000)
    parser.add_argument("--sample-every", type=float, default=5.0)
    parser.add_argument("--tool", default=os.path.join(build, "quelmar"))
    parser.add_argument("--sim", default=os.path.join(build, "sim", "quelmar-sim"))
    parser.add_argument("--faults", default="1:0:5,2:2:64,3:1:200")
    args = parser.parse_args()

    began = time.monotonic()
    r = qdrive.run_session(args.tool, args.sim, args.polls, sim_args=("--faults", args.faults),
                           sample_every=args.sample_every,
                           keep_times=False, limit_s=6 * 3600)
    took = time.monotonic() - began
    samples = [s for s in r["samples"] if "VmRSS" in s]
    if r.get("at_polls"):
        samples.append(dict(r["at_polls"], polls=args.polls))
    rss = [s["VmRSS"] for s in samples]
    fds = [s["fds"] for s in samples]
    first, last = samples[0], samples[-1]
    cpu_per_poll = 1e6 * (last["cpu"] - first["cpu"]) / max(1, last["polls"] - first["polls"])
    # After the first 20 s the program has long settled; any growth after that is a leak.
    settled = [s for s in samples if s["t"] - first["t"] >= 20] or samples
    rss_growth = settled[-1]["VmRSS"] - settled[0]["VmRSS"]
    # Each frame received moves the counter on by 2 (the ECU's reply carries the request's
    # counter plus 1, the next request the reply's plus 1): 4 a poll, more in the collections.
    wraps = 4 * r["polls"] // 256
    print(f"polls: {r['polls']} in {took:.0f} s ({r['polls'] / took:.0f} polls/s), "
          f"frame counter wrapped at least {wraps} times")
    print(f"RSS (KiB): first {rss[0]}, min {min(rss)}, max {max(rss)}, last {rss[-1]}; "
          f"growth after settling {rss_growth}; peak (VmHWM) {last['VmHWM']}")
    print(f"open descriptors: first {fds[0]}, min {min(fds)}, max {max(fds)}, last {fds[-1]}")
    print(f"samples: {len(samples)}; CPU per poll {cpu_per_poll:.1f} us")
    print(f"error messages on the screen: {r['errors_seen']}")
    print(f"tool exit status: {r['tool_status']}; simulator exit status: {r['sim_status']}")
    if r["sim_log"].strip():
        print("simulator said: " + r["sim_log"].strip().replace("\n", "\n  "))
    ok = (r["tool_status"] == 0 and r["sim_status"] == 0 and r["errors_seen"] == 0
          and r["polls"] >= args.polls and rss_growth <= 0 and max(fds) == min(fds)
          and not r.get("timed_out"))
    print("soak: " + ("passed" if ok else "FAILED"))
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
