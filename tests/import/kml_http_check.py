#!/usr/bin/env python3
"""Imports KML documents over http and https with tervolin.exe: small
servers bound to 127.0.0.1 on free ports serve documents from a temporary
folder, among them ones whose NetworkLink names a second document on the
same server, absolutely or relative to the linking document. The https
server's certificate comes from a throw-away certificate authority that is
trusted only inside the test's Wine prefix, for the time of the test. A
missing document (404), a refused connection and an untrusted certificate
must fail with exit code 1, words, and no output file. The reader gets the
document as a stream, so one on a single line reads as fast as a local one
(bench/kml.sh measures it).

A hostile server then tries to hang or fill the download: it stays silent
after accepting, sends headers and half a body and falls silent, trickles
bytes for ever, redirects to itself, or sends an endless body. The host's
limits are shortened through TERVOLIN_DOWNLOAD_LIMITS ("SILENCE,OVERALL,
MEGABYTES"); each download must fail within its limit with the limit's
words and exit code 1, leave an existing output as it was and no other file
beside it, and leave nothing in the prefix's Internet cache."""
import contextlib
import glob
import functools
import hashlib
import http.server
import os
import socket
import ssl
import struct
import subprocess
import sys
import tempfile
import threading
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from host_check import run_host, run_wine, wine_environment  # noqa: E402

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


def make_certificates(folder):
    """A throw-away certificate authority and a server certificate for
    127.0.0.1 that it signs; returns the authority's DER bytes."""
    def openssl(*arguments):
        subprocess.run(["openssl", *arguments], cwd=folder, check=True, capture_output=True)

    openssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", "ca.key", "-out", "ca.pem", "-days", "2",
            "-subj", "/CN=Tervolin test authority", "-addext", "basicConstraints=critical,CA:TRUE",
            "-addext", "keyUsage=critical,keyCertSign,cRLSign")
    openssl("req", "-newkey", "rsa:2048", "-nodes", "-keyout", "server.key", "-out", "server.csr",
            "-subj", "/CN=127.0.0.1")
    with open(os.path.join(folder, "server.ext"), "w") as f:
        # Wine compares the host of the URL with the DNS names only.
        f.write("subjectAltName=IP:127.0.0.1,DNS:127.0.0.1\nbasicConstraints=CA:FALSE\n"
                "keyUsage=critical,digitalSignature,keyEncipherment\nextendedKeyUsage=serverAuth\n")
    openssl("x509", "-req", "-in", "server.csr", "-CA", "ca.pem", "-CAkey", "ca.key", "-CAcreateserial",
            "-out", "server.pem", "-days", "2", "-extfile", "server.ext")
    openssl("x509", "-in", "ca.pem", "-outform", "DER", "-out", "ca.der")
    with open(os.path.join(folder, "ca.der"), "rb") as f:
        return f.read()


@contextlib.contextmanager
def trusted_in_prefix(authority):
    """The authority among the trusted roots of the Wine prefix only (its
    registry), removed again afterwards. The value is the certificate as a
    serialized store element: property 32 (the encoded certificate)."""
    key = ("HKLM\\Software\\Microsoft\\SystemCertificates\\Root\\Certificates\\"
           + hashlib.sha1(authority).hexdigest().upper())
    blob = struct.pack("<III", 32, 1, len(authority)) + authority
    run_wine("reg", "add", key, "/v", "Blob", "/t", "REG_BINARY", "/d", blob.hex().upper(), "/f")
    try:
        yield
    finally:
        run_wine("reg", "delete", key, "/f")


@contextlib.contextmanager
def serving(folder, tls_folder=None):
    """A server for the folder on a free port of 127.0.0.1; yields its base URL."""
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), functools.partial(QuietHandler, directory=folder))
    scheme = "http"
    if tls_folder:
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(os.path.join(tls_folder, "server.pem"), os.path.join(tls_folder, "server.key"))
        server.socket = context.wrap_socket(server.socket, server_side=True)
        scheme = "https"
    thread = threading.Thread(target=server.serve_forever, daemon=True)
    thread.start()
    try:
        yield f"{scheme}://127.0.0.1:{server.server_address[1]}"
    finally:
        server.shutdown()
        server.server_close()


def convert_kml(location, output, limits=None, timeout=60):
    """tervolin convert kml of the location, with download limits when given."""
    extra = {"TERVOLIN_DOWNLOAD_LIMITS": limits} if limits else None
    return run_host("convert", "kml", "--quiet", location, output, timeout=timeout, extra_env=extra)


# The limits the hostile cases run with: 1 s of silence, 4 s in all, 1 MB.
SHORT_LIMITS = "1,4,1"
SILENCE_WORDS = "the server sent nothing for 1 s"
OVERALL_WORDS = "the download did not complete within 4 s"
REDIRECT_WORDS = "too many redirects (more than 10)"
SIZE_WORDS = "the document is larger than 1 MB"
MOST_REDIRECTS = 10


class HostileServer:
    """Answers every request on one port by its path: /silent accepts and
    sends nothing, /half sends headers and half the announced body, /trickle
    starts a document and sends one space every 0.3 s, /loop redirects to itself, /endless sends
    placemarks without end. Counts the requests of /loop."""

    def __init__(self):
        self.listener = socket.create_server(("127.0.0.1", 0))
        self.stop = threading.Event()
        self.loop_requests = 0
        self.base = f"http://127.0.0.1:{self.listener.getsockname()[1]}"
        threading.Thread(target=self.accept, daemon=True).start()

    def close(self):
        self.stop.set()
        self.listener.close()

    def accept(self):
        while not self.stop.is_set():
            try:
                connection, _ = self.listener.accept()
            except OSError:
                return
            threading.Thread(target=self.serve, args=(connection,), daemon=True).start()

    @staticmethod
    def request_path(connection):
        request = b""
        while b"\r\n\r\n" not in request:
            piece = connection.recv(4096)
            if not piece:
                return None
            request += piece
        return request.split(b" ")[1].decode("ascii")

    def serve(self, connection):
        with connection:
            try:
                while not self.stop.is_set():
                    path = self.request_path(connection)
                    if path is None or not self.answer(connection, path):
                        return
            except OSError:
                return

    def answer(self, connection, path):
        """Answers one request; False when the connection is done."""
        body = KML.format(placemark("Hut", "8.5,47.25,1200")).encode("utf-8")
        if path == "/silent":
            self.stop.wait()
        elif path == "/half":
            connection.sendall(b"HTTP/1.1 200 OK\r\nContent-Length: %d\r\n\r\n" % len(body) + body[:len(body) // 2])
            self.stop.wait()
        elif path == "/trickle":
            connection.sendall(b"HTTP/1.1 200 OK\r\nContent-Length: %d\r\n\r\n" % (1000 * len(body)) +
                               body[:body.index(b"<Placemark>")])
            while not self.stop.wait(0.3):
                connection.sendall(b" ")
        elif path == "/loop":
            self.loop_requests += 1
            connection.sendall(b"HTTP/1.1 302 Found\r\nLocation: /loop\r\nContent-Length: 0\r\n\r\n")
            return True
        elif path == "/endless":
            connection.sendall(b"HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n" + body[:body.index(b"<Placemark>")])
            many = placemark("Hut", "8.5,47.25,1200").encode("utf-8") * 1000
            while not self.stop.is_set():
                connection.sendall(many)
        return False


def cache_files(prefix):
    """Every file in the Internet cache folders of the prefix's users."""
    found = set()
    for folder in ("AppData/Local/Microsoft/Windows/INetCache", "AppData/Local/Microsoft/Windows/Temporary Internet Files",
                   "Local Settings/Temporary Internet Files"):
        for path in glob.glob(os.path.join(prefix, "drive_c", "users", "*", folder, "**"), recursive=True):
            if os.path.isfile(path):
                found.add(path)
    return found


def check_hostile_server(check, folder):
    """Each case must end within its limit (with Wine's start-up and a
    margin) and keep the existing output."""
    output = os.path.join(folder, "existing.upt")
    existing = b"$PMGNCMD,END\r\n"
    server = HostileServer()
    try:
        for what, path, words, limit in (("silence after accept", "/silent", SILENCE_WORDS, 1),
                                         ("half a body", "/half", SILENCE_WORDS, 1),
                                         ("trickle beyond the overall limit", "/trickle", OVERALL_WORDS, 4),
                                         ("redirect loop", "/loop", REDIRECT_WORDS, 4),
                                         ("endless body", "/endless", SIZE_WORDS, 4)):
            with open(output, "wb") as f:
                f.write(existing)
            started = time.monotonic()
            try:
                result = convert_kml(server.base + path, output, limits=SHORT_LIMITS, timeout=30)
            except subprocess.TimeoutExpired:
                check(what, False, "the download did not end")
                continue
            elapsed = time.monotonic() - started
            print(f"{what}: {elapsed:.1f} s: {result.stderr.strip()}")
            check(what, result.returncode == 1, f"exit code {result.returncode}, {result.stderr}")
            check(what, words in result.stderr and result.stderr.count("\n") == 1, result.stderr)
            check(what, elapsed < limit + 15, f"took {elapsed:.1f} s")
            check(what, open(output, "rb").read() == existing, "the existing output changed")
            check(what, os.listdir(folder) == ["existing.upt"], f"files left: {os.listdir(folder)}")
        check("redirect loop", server.loop_requests == MOST_REDIRECTS + 1, f"{server.loop_requests} requests")
    finally:
        server.close()


def main():
    failures = []

    def check(what, condition, detail=""):
        if not condition:
            failures.append(f"{what}: {detail}")

    def expect_output(what, result, output, expected):
        check(what, result.returncode == 0, result.stderr)
        if result.returncode == 0:
            written = open(output, "rb").read()
            check(what, written == expected, written)

    linked = (sentence("$PMGNWPL,0200.00000,S,00100.00000,W,0.00000,M,Linked,,a") +
              sentence("$PMGNWPL,0200.00000,N,00100.00000,E,3.00000,M,Other,,a") + TERMINATOR)

    prefix = wine_environment().get("TERVOLIN_WINEPREFIX", "")
    cached_before = cache_files(prefix)
    with tempfile.TemporaryDirectory() as folder, tempfile.TemporaryDirectory() as tls_folder:
        def write(name, text):
            os.makedirs(os.path.dirname(os.path.join(folder, name)), exist_ok=True)
            with open(os.path.join(folder, name), "w", encoding="utf-8") as f:
                f.write(text)

        output = os.path.join(tls_folder, "out.upt")
        write("huts.kml", KML.format(placemark("Hut", "8.5,47.25,1200")))
        write("maps/second.kml", KML.format(placemark("Linked", "-1,-2,0") + placemark("Other", "1,2,3")))
        write("maps/relative.kml", KML.format(placemark("Own", "0,0,0") +
                                              "<NetworkLink><Link><href>second.kml</href></Link></NetworkLink>"))

        with serving(folder) as base:
            write("maps/first.kml", KML.format(placemark("Own", "0,0,0") +
                                               f"<NetworkLink><Url><href>{base}/maps/second.kml</href></Url>"
                                               "</NetworkLink>"))
            result = convert_kml(f"{base}/huts.kml", output)
            expect_output("plain document", result, output,
                          sentence("$PMGNWPL,4715.00000,N,00830.00000,E,1200.00000,M,Hut,,a") + TERMINATOR)
            expect_output("network link", convert_kml("HTTP" + base[4:] + "/maps/first.kml", output), output,
                          linked)
            expect_output("relative network link", convert_kml(f"{base}/maps/relative.kml", output), output,
                          linked)

            os.remove(output)
            refused = f"http://127.0.0.1:{free_port()}/huts.kml"
            for what, location, words in (("404", f"{base}/missing.kml", "no document at this address"),
                                          ("refused connection", refused, "no connection to the server")):
                result = convert_kml(location, output)
                check(what, result.returncode == 1, f"exit code {result.returncode}, {result.stderr}")
                check(what, result.stderr.startswith("tervolin: ") and words in result.stderr, result.stderr)
                print(f"{what}: {result.stderr.strip()}")
                check(what, not os.path.exists(output), "an output file was written")

        authority = make_certificates(tls_folder)
        with serving(folder, tls_folder) as base:
            result = convert_kml(f"{base}/huts.kml", output)
            check("https without a trusted authority",
                  result.returncode == 1 and "certificate" in result.stderr and not os.path.exists(output),
                  f"exit code {result.returncode}, {result.stderr}")
            print(f"untrusted https: {result.stderr.strip()}")
            with trusted_in_prefix(authority):
                expect_output("https network link", convert_kml(f"{base}/maps/relative.kml", output), output,
                              linked)

        with tempfile.TemporaryDirectory() as hostile_folder:
            check_hostile_server(check, hostile_folder)

    check("Internet cache", cache_files(prefix) == cached_before, sorted(cache_files(prefix) - cached_before))
    for failure in failures:
        print(failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
