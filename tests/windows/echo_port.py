#!/usr/bin/env python3
"""The far end of a test serial port: a pty whose master echoes every byte written to it, as
the K-line does. Makes LINK a symlink to the slave, prints the slave's path, and runs until
killed or until SECONDS have passed."""
import os
import select
import signal
import sys
import time
import tty


def main():
    link, seconds = sys.argv[1], float(sys.argv[2])
    master, slave = os.openpty()
    # Raw, so that the pty itself neither echoes nor translates: only this program answers.
    tty.setraw(slave)
    slave_path = os.ttyname(slave)
    if os.path.lexists(link):
        os.unlink(link)
    os.symlink(slave_path, link)
    print(slave_path, flush=True)
    # Killed by the test script: leave through the finally, which removes the link.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(0))
    end = time.monotonic() + seconds
    try:
        while time.monotonic() < end:
            ready, _, _ = select.select([master], [], [], 0.2)
            if ready:
                data = os.read(master, 256)
                if data:
                    os.write(master, data)
    finally:
        os.unlink(link)


if __name__ == "__main__":
    main()
