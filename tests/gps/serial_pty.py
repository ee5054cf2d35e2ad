"""Pseudo-terminal serial ports for Windows programs under Wine.

A socat pair links one end into the prefix's dosdevices as a COM port and
leaves the other end for the test to write. Wine waits for serial events
with ioctl(TIOCMGET), which a pseudo-terminal refuses, so the Windows
program runs with a small preloaded library (ptyshim.c, built here for
both word sizes) that answers the modem-control requests on ptys.
"""
import json
import os
import queue
import shutil
import subprocess
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
TOP = os.path.dirname(os.path.dirname(HERE))


class Unavailable(Exception):
    """A tool the serial tests need is missing: the caller skips."""


def build_shim(build):
    """Builds the preload library for i686 and x86_64; returns the
    LD_PRELOAD value (with $PLATFORM for the dynamic loader to expand)."""
    folder = os.path.join(build, "ptyshim")
    source = os.path.join(HERE, "ptyshim.c")
    for platform, flag in (("i686", "-m32"), ("x86_64", "-m64")):
        target = os.path.join(folder, platform, "libtervolin-ptyshim.so")
        if os.path.exists(target) and os.path.getmtime(target) >= os.path.getmtime(source):
            continue
        os.makedirs(os.path.dirname(target), exist_ok=True)
        result = subprocess.run(["gcc", flag, "-O2", "-shared", "-fPIC", "-nostdlib", "-o", target, source],
                                capture_output=True, text=True)
        if result.returncode != 0:
            raise Unavailable("cannot build the pty preload library: " + result.stderr.strip())
    return os.path.join(folder, "$PLATFORM", "libtervolin-ptyshim.so")


class PtyPort:
    """A socat pair: COM<number> for Windows, a writable end for the test."""

    def __init__(self, prefix, number, folder):
        if not shutil.which("socat"):
            raise Unavailable("socat is not installed")
        self.name = "COM%d" % number
        self.link = os.path.join(prefix, "dosdevices", "com%d" % number)
        self.feeder_path = os.path.join(folder, "feeder%d" % number)
        for path in (self.link, self.feeder_path):
            if os.path.lexists(path):
                os.unlink(path)
        self.process = subprocess.Popen(
            ["socat", "pty,raw,echo=0,link=" + self.link, "pty,raw,echo=0,link=" + self.feeder_path],
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        deadline = time.monotonic() + 5
        while not (os.path.lexists(self.link) and os.path.lexists(self.feeder_path)):
            if time.monotonic() > deadline:
                self.close()
                raise Unavailable("socat did not create the pty pair")
            time.sleep(0.01)
        self.feeder = os.open(self.feeder_path, os.O_WRONLY | os.O_NOCTTY)

    def write(self, data):
        view = memoryview(data)
        while view:
            written = os.write(self.feeder, view)
            view = view[written:]

    def close(self):
        """Ends the far end, as a receiver that is unplugged."""
        if getattr(self, "feeder", None) is not None:
            os.close(self.feeder)
            self.feeder = None
        if self.process.poll() is None:
            self.process.terminate()
            self.process.wait()
        if os.path.lexists(self.link):
            os.unlink(self.link)


class Host:
    """tervolin.exe nmea on a port, its JSON events collected as they come."""

    def __init__(self, build, prefix, shim, arguments, errors=subprocess.DEVNULL):
        """errors: where the host's standard error goes (a file to read it)."""
        environment = dict(os.environ, TERVOLIN_WINEPREFIX=prefix, WINEPREFIX=prefix, LD_PRELOAD=shim)
        self.process = subprocess.Popen(
            [os.path.join(TOP, "scripts", "wine-run"), os.path.join(build, "bin", "tervolin.exe"), "nmea"]
            + arguments, stdout=subprocess.PIPE, stderr=errors, env=environment)
        self.events = queue.Queue()
        self.reader = threading.Thread(target=self._read, daemon=True)
        self.reader.start()

    def _read(self):
        for line in self.process.stdout:
            self.events.put((time.monotonic(), json.loads(line)))
        self.events.put((time.monotonic(), None))

    def next_event(self, timeout):
        """(arrival time, event) or (time, None) at the end of the output;
        raises queue.Empty when nothing came in time."""
        return self.events.get(timeout=timeout)

    def wait_for(self, name, timeout):
        """Skips events until one of that name arrives; returns it."""
        deadline = time.monotonic() + timeout
        while True:
            arrived, event = self.next_event(max(0.01, deadline - time.monotonic()))
            if event is None:
                raise AssertionError("the host ended before a %s event" % name)
            if event["event"] == name:
                return arrived, event

    def finish(self, timeout):
        """Waits for the host to end by itself; returns its exit code and
        the events it printed after the ones already taken."""
        code = self.process.wait(timeout=timeout)
        self.reader.join(timeout)
        rest = []
        while not self.events.empty():
            event = self.events.get()[1]
            if event is not None:
                rest.append(event)
        return code, rest

    def kill(self):
        if self.process.poll() is None:
            self.process.kill()
            self.process.wait()
