#!/usr/bin/env python3
"""Imports KML documents over http with tervolin.exe: a small HTTP server
bound to 127.0.0.1 on a free port serves documents from a temporary folder,
among them one whose NetworkLink names a second document on the same
server. A missing document (404) and a refused connection must fail with
exit code 1, a message, and no output file."""
import functools
import http.server
import os
import socket
import subprocess
import sys
import tempfile
import threading

KML = '<?xml version="1.0" encoding="UTF-8"?>\n<kml xmlns="http://www.opengis.net/kml/2.2"><Document>{}</Document></kml>\n'


def placemark(name, coordinates):
    return f"<Placemark><name>{name}</name><Point><coordinates>{coordinates}</coordinates></Point></Placemark>"


def sentence(body):
    checksum = 0
    for byte in body[1:].encode("ascii"):
        checksum ^= byte
    return f"{body}*{checksum:02X}\r\n".encode("ascii")


TERMINATOR = b"$PMGNCMD,END\r\n"


class QuietHandler(http.server.SimpleHTTPRequestHandler):
    def log_message(self, *args):
        pass


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class Host:
    def __init__(self, build):
        here = os.path.dirname(os.path.abspath(__file__))
        self.wine_run = os.path.join(here, "..", "..", "scripts", "wine-run")
        self.exe = os.path.join(build, "bin", "tervolin.exe")

        # The build's own prefix, which CTest names in WINEPREFIX.
        self.env = dict(os.environ)
        if "WINEPREFIX" in os.environ:
            self.env.setdefault("TERVOLIN_WINEPREFIX", os.environ["WINEPREFIX"])

    def convert(self, location, output):
        return subprocess.run([self.wine_run, self.exe, "convert", "kml", location, output],
                              capture_output=True, text=True, timeout=60, env=self.env)


def main():
    host = Host(os.environ["TERVOLIN_BUILD"])
    failures = []

    def check(what, condition, detail=""):
        if not condition:
            failures.append(f"{what}: {detail}")

    with tempfile.TemporaryDirectory() as folder:
        server = http.server.ThreadingHTTPServer(
            ("127.0.0.1", 0), functools.partial(QuietHandler, directory=folder))
        base = f"http://127.0.0.1:{server.server_address[1]}"
        thread = threading.Thread(target=server.serve_forever, daemon=True)
        thread.start()
        try:
            def write(name, text):
                with open(os.path.join(folder, name), "w", encoding="utf-8") as f:
                    f.write(text)

            write("huts.kml", KML.format(placemark("Hut", "8.5,47.25,1200")))
            write("second.kml", KML.format(placemark("Linked", "-1,-2,0") + placemark("Other", "1,2,3")))
            write("first.kml", KML.format(placemark("Own", "0,0,0") +
                                          f"<NetworkLink><Url><href>{base}/second.kml</href></Url></NetworkLink>"))
            output = os.path.join(folder, "out.upt")

            result = host.convert(f"{base}/huts.kml", output)
            check("plain document", result.returncode == 0, result.stderr)
            if result.returncode == 0:
                expected = sentence("$PMGNWPL,4715.00000,N,00830.00000,E,1200.00000,M,Hut,,a") + TERMINATOR
                check("plain document", open(output, "rb").read() == expected, open(output, "rb").read())

            result = host.convert("HTTP" + base[4:] + "/first.kml", output)
            check("network link", result.returncode == 0, result.stderr)
            if result.returncode == 0:
                expected = (sentence("$PMGNWPL,0200.00000,S,00100.00000,W,0.00000,M,Linked,,a") +
                            sentence("$PMGNWPL,0200.00000,N,00100.00000,E,3.00000,M,Other,,a") + TERMINATOR)
                check("network link", open(output, "rb").read() == expected, open(output, "rb").read())

            os.remove(output)
            refused = f"http://127.0.0.1:{free_port()}/huts.kml"
            for what, location in (("404", f"{base}/missing.kml"), ("refused connection", refused)):
                result = host.convert(location, output)
                check(what, result.returncode == 1, f"exit code {result.returncode}, {result.stderr}")
                check(what, result.stderr.startswith("tervolin: "), result.stderr)
                print(f"{what}: {result.stderr.strip()}")
                check(what, not os.path.exists(output), "an output file was written")
        finally:
            server.shutdown()
            server.server_close()

    for failure in failures:
        print(failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
