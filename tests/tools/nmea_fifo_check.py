#!/usr/bin/env python3
"""tervolin nmea on a capture file that blocks: a FIFO whose writer sends one
sentence and then nothing while keeping it open. --seconds ends the run
although the file never ends. (Under Wine the read of a FIFO waits for a
whole block, so the one sentence is not seen before the limit.)"""
import os
import subprocess
import sys
import tempfile
import threading
import time

TOP = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
BUILD = os.environ["TERVOLIN_BUILD"]
SENTENCE = b"$GPRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W*6A\r\n"
SECONDS = 3


def silent_writer(fifo, done):
    """Opens the FIFO when the reader does, writes one sentence, then holds
    it open without a word until done."""
    descriptor = os.open(fifo, os.O_WRONLY)
    os.write(descriptor, SENTENCE)
    done.wait(120)
    os.close(descriptor)


def main():
    with tempfile.TemporaryDirectory() as folder:
        fifo = os.path.join(folder, "capture.nmea")
        os.mkfifo(fifo)
        done = threading.Event()
        writer = threading.Thread(target=silent_writer, args=(fifo, done), daemon=True)
        writer.start()
        started = time.monotonic()
        try:
            result = subprocess.run(
                [os.path.join(TOP, "scripts", "wine-run"), os.path.join(BUILD, "bin", "tervolin.exe"), "nmea",
                 "Z:" + fifo, "--seconds", str(SECONDS)],
                capture_output=True, timeout=60)
        except subprocess.TimeoutExpired:
            print("FAIL: the run outlived --seconds %d by more than a minute" % SECONDS)
            return 1
        finally:
            done.set()
        elapsed = time.monotonic() - started
    failures = []
    if result.returncode != 0:
        failures.append("exit code %d: %s" % (result.returncode, result.stderr.decode(errors="replace")))
    if elapsed < SECONDS:
        failures.append("ended after %.1f s, before --seconds %d" % (elapsed, SECONDS))
    for failure in failures:
        print("FAIL: " + failure)
    print("ended after %.1f s with --seconds %d" % (elapsed, SECONDS))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
