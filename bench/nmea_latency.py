"""Latency of the serial path: from the last byte of a sentence written to
a pseudo-terminal COM port to the Input event that tervolin nmea prints
for it (median and 99th percentile). The event's arrival is taken when its
line reaches this script, so the figure includes the host's output pipe.
    nmea_latency.py BUILD WINEPREFIX [SENTENCES]"""
import os
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "gps"))
import serial_pty  # noqa: E402


def main():
    build, prefix = sys.argv[1], sys.argv[2]
    count = int(sys.argv[3]) if len(sys.argv) > 3 else 1000
    shim = serial_pty.build_shim(build)
    with tempfile.TemporaryDirectory() as folder:
        port = serial_pty.PtyPort(prefix, 31, folder)
        host = serial_pty.Host(build, prefix, shim, [port.name, "--raw", "--timeout", "250"])
        try:
            host.wait_for("Timeout", 20)
            time.sleep(1.5)
            latencies = []
            for i in range(count):
                sentence = b"$GPGLL,4916.45,N,12311.12,W,%06d,A\r\n" % i
                port.write(sentence)
                written = time.monotonic()
                arrived, _ = host.wait_for("Input", 5)
                latencies.append((arrived - written) * 1000)
                time.sleep(0.005)
        finally:
            host.kill()
            port.close()
    latencies.sort()
    median = latencies[len(latencies) // 2]
    p99 = latencies[min(len(latencies) - 1, int(len(latencies) * 0.99))]
    print("%-40s %7.1f ms median %7.1f ms 99th percentile (%d sentences)" % ("serial latency, write to Input", median,
                                                                             p99, count))


if __name__ == "__main__":
    main()
