"""End-to-end checks of the serial connection on a pseudo-terminal port:
tervolin nmea reads COM ports backed by socat pairs while this script
writes the far end. Exit 77 (skipped) when socat or gcc -m32 is missing."""
import os
import queue
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import serial_pty  # noqa: E402

BUILD = os.environ["TERVOLIN_BUILD"]
PREFIX = os.environ["WINEPREFIX"]
failures = []


def check(condition, message):
    if not condition:
        failures.append(message)
        print("FAIL: " + message)


def input_batches(events):
    return [event["lines"] for event in events if event["event"] == "Input"]


def run_case(name, function, shim, folder, number):
    print("== " + name)
    port = serial_pty.PtyPort(PREFIX, number, folder)
    try:
        function(port, shim)
    except (AssertionError, queue.Empty) as error:
        failures.append("%s: %r" % (name, error))
        print("FAIL: %s: %r" % (name, error))
    finally:
        port.close()


def start(port, shim, *options):
    host = serial_pty.Host(BUILD, PREFIX, shim, [port.name] + list(options))
    # The first silence notice shows that the port is open and waited on;
    # Wine's start-up may still hold the host's thread for a moment.
    host.wait_for("Timeout", 20)
    time.sleep(1.5)
    return host


def line_assembly(port, shim):
    host = start(port, shim, "--raw", "--timeout", "250", "--seconds", "5")
    pieces = [b"$GPGGA,1\r\n$GP", b"RMC,2\r\n", b"a\r", b"\nb\n", b"x\n\n\r\r\ny\n",
              b"$GPRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W*6A\r\n"]
    for piece in pieces:
        port.write(piece)
        time.sleep(0.3)
    code, events = host.finish(30)
    check(code == 0, "line assembly: exit code %d" % code)
    check(input_batches(events) == [["$GPGGA,1"], ["$GPRMC,2"], ["a"], ["", "b"], ["x", "y"],
                                    ["$GPRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W*6A"]],
          "line assembly: %r" % input_batches(events))
    fixes = [event for event in events if event["event"] == "RecommendedMinimumC"]
    check(len(fixes) == 1 and abs(fixes[0]["latitude"] - 48.1173) < 1e-6 and fixes[0]["date"] == "1994-03-23",
          "line assembly: interpreted fix %r" % fixes)


def silence(port, shim):
    host = serial_pty.Host(BUILD, PREFIX, shim, [port.name, "--timeout", "300", "--seconds", "3"])
    counts = [host.wait_for("Timeout", 20)[1]["milliseconds"] for _ in range(3)]
    port.write(b"$GPGGA,1\r\n")
    after = host.wait_for("Timeout", 5)[1]["milliseconds"]
    code, _ = host.finish(30)
    check(counts == [300, 600, 900], "silence: %r" % counts)
    check(after == 300, "silence after a character starts again: %r" % after)
    check(code == 0, "silence: exit code %d" % code)


def far_end_closes(port, shim):
    host = start(port, shim, "--raw", "--timeout", "200", "--seconds", "20")
    port.write(b"$GPGGA,1\r\n")
    host.wait_for("Input", 5)
    port.close()
    _, error = host.wait_for("Error", 5)
    # The worker tries to open the port again, fails and ends: so does the
    # host (Disconnect after the failure must not hang).
    code, rest = host.finish(30)
    check(error["code"].startswith("0x8007"), "far end: error %r" % error)
    check([event["code"] for event in rest if event["event"] == "Error"] == ["0x80070002"], "far end: %r" % rest)
    check(code == 1, "far end: exit code %d" % code)


def many_lines(port, shim):
    count = 100000
    host = start(port, shim, "--raw", "--timeout", "200")
    try:
        data = b"".join(b"$GPTXT,%06d,flood*00\r\n" % i for i in range(count))
        port.write(data)
        received = []
        deadline = time.monotonic() + 90
        while len(received) < count and time.monotonic() < deadline:
            _, event = host.next_event(max(0.01, deadline - time.monotonic()))
            if event is None:
                break
            if event["event"] == "Input":
                received.extend(event["lines"])
        expected = ["$GPTXT,%06d,flood*00" % i for i in range(count)]
        check(received == expected, "100000 lines: %d received, first difference at %s" % (
            len(received), next((i for i, (a, b) in enumerate(zip(received, expected)) if a != b), min(len(received), count))))
    finally:
        host.kill()


def reconnect_in_event(port, shim):
    """A client in the multithreaded apartment calls Disconnect and Connect
    inside a Timeout event (on the worker thread); lines written later
    arrive without any Error (the automation test says what it checks)."""
    environment = dict(os.environ, TERVOLIN_WINEPREFIX=PREFIX, WINEPREFIX=PREFIX, LD_PRELOAD=shim,
                       TERVOLIN_BIN="Z:" + os.path.join(BUILD, "bin"), TERVOLIN_TEST_PORT=port.name)
    test = subprocess.Popen(
        [os.path.join(serial_pty.TOP, "scripts", "wine-run"), os.path.join(BUILD, "tests", "gps", "gps_automation_tests.exe"),
         "--gtest_filter=Automation.ReconnectInsideAnEventOnTheWorker"],
        stdout=subprocess.PIPE, stderr=subprocess.STDOUT, env=environment)
    time.sleep(3)
    deadline = time.monotonic() + 30
    while test.poll() is None and time.monotonic() < deadline:
        port.write(b"$GPGGA,1\r\n")
        time.sleep(0.1)
    if test.poll() is None:
        test.kill()
    output = test.communicate()[0].decode("utf-8", "replace")
    check(test.returncode == 0 and "[  PASSED  ] 1 test" in output, "reconnect in an event:\n" + output)


def missing_port(shim):
    """The port cannot be opened: one Error event, then exit code 1 and a
    message naming the port, at once whether or not --seconds is given."""
    for options in (["--seconds", "20"], []):
        print("== missing port " + " ".join(options))
        with tempfile.TemporaryFile() as errors:
            host = serial_pty.Host(BUILD, PREFIX, shim, ["COM42"] + options, errors=errors)
            started = time.monotonic()
            try:
                code, events = host.finish(15)
            except subprocess.TimeoutExpired:
                host.kill()
                code, events = None, []
            errors.seek(0)
            message = errors.read().decode("utf-8", "replace")
        codes = [event["code"] for event in events if event["event"] == "Error"]
        check(code == 1, "missing port: exit code %r" % code)
        check(time.monotonic() - started < 10, "missing port: the host waited")
        check(codes == ["0x80070002"], "missing port: %r" % events)
        check("COM42" in message and "0x80070002" in message, "missing port: message %r" % message)


def main():
    try:
        shim = serial_pty.build_shim(BUILD)
        with tempfile.TemporaryDirectory() as folder:
            missing_port(shim)
            cases = [("line assembly", line_assembly), ("silence", silence), ("far end closes", far_end_closes),
                     ("100000 lines", many_lines), ("reconnect in an event", reconnect_in_event)]
            for number, (name, function) in enumerate(cases, start=21):
                run_case(name, function, shim, folder, number)
    except serial_pty.Unavailable as reason:
        print("skipped: %s" % reason)
        return 77
    print("%d failure(s)" % len(failures))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
