"""The tests' update server: HTTPS on localhost:PORT with a certificate authority made for
the run, answering every path from a table of scripted replies (status, body, announced
length or chunking, a stall or a hold until the test releases it, a cut mid-body, a body
without end); and a proxy that tunnels every CONNECT to it, whatever host was asked for."""
import contextlib
import dataclasses
import http.server
import shutil
import socket
import ssl
import struct
import subprocess
import threading
import time
from pathlib import Path

PORT, TUNNEL_PORT = 48443, 48480
BASE = f"https://localhost:{PORT}"
CA_IN_STORE = Path("/usr/local/share/ca-certificates/zentrovia-update-test.crt")


@dataclasses.dataclass
class Reply:
    body: bytes = b""
    status: int = 200
    length: int | None = -1        # -1: the body's own length; None: chunked, no length
    stall_at: int | None = None    # stop after these bytes for `stall` seconds
    stall: float = 0
    cut_at: int | None = None      # reset the connection after these bytes
    hold: threading.Event | None = None  # after the stall, wait until the test sets this
    endless: bool = False          # after the body, zeros until the client goes


def _openssl(*args, cwd):
    subprocess.run(["openssl", *args], cwd=cwd, check=True, capture_output=True, timeout=60)


class Server:
    def __init__(self, folder: Path):
        self.folder, self.routes, self.served = folder, {}, []
        folder.mkdir(parents=True, exist_ok=True)
        _openssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2", "-subj", "/CN=Zentrovia Test CA",
                 "-keyout", "ca.key", "-out", "ca.crt", cwd=folder)
        _openssl("req", "-newkey", "rsa:2048", "-nodes", "-subj", "/CN=localhost", "-keyout", "host.key",
                 "-out", "host.csr", cwd=folder)
        (folder / "ext").write_text("subjectAltName=DNS:localhost\n")
        _openssl("x509", "-req", "-in", "host.csr", "-CA", "ca.crt", "-CAkey", "ca.key", "-CAcreateserial",
                 "-days", "2", "-extfile", "ext", "-out", "host.crt", cwd=folder)
        shutil.copy(folder / "ca.crt", CA_IN_STORE)
        subprocess.run(["update-ca-certificates"], check=True, capture_output=True, timeout=300)
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(folder / "host.crt", folder / "host.key")
        self.httpd = http.server.ThreadingHTTPServer(("127.0.0.1", PORT), _handler(self))
        self.httpd.socket = context.wrap_socket(self.httpd.socket, server_side=True)
        self.thread = threading.Thread(target=self.httpd.serve_forever, daemon=True)
        self.thread.start()

    def stop(self):
        for reply in self.routes.values():
            if reply.hold:
                reply.hold.set()
        self.httpd.shutdown()
        self.httpd.server_close()
        self.thread.join(10)
        # update-ca-certificates leaves the links to a removed certificate behind: ours go too.
        for link in [p for p in Path("/etc/ssl/certs").iterdir() if p.resolve() == CA_IN_STORE] + [CA_IN_STORE]:
            link.unlink(missing_ok=True)
        subprocess.run(["update-ca-certificates"], capture_output=True, timeout=300)


def _handler(server: Server):
    class Handler(http.server.BaseHTTPRequestHandler):
        protocol_version = "HTTP/1.1"

        def log_message(self, *args):
            pass

        def do_GET(self):
            server.served.append(self.path)
            reply = server.routes.get(self.path, Reply(b"not here", 404))
            self.send_response(reply.status)
            if reply.length is None:
                self.send_header("Transfer-Encoding", "chunked")
            else:
                self.send_header("Content-Length", str(len(reply.body) if reply.length < 0 else reply.length))
            self.send_header("Connection", "close")
            self.end_headers()
            body, chunked = reply.body[:reply.cut_at], reply.length is None
            split = len(body) if reply.stall_at is None else reply.stall_at
            self.write(body[:split], chunked)
            time.sleep(reply.stall)
            if reply.hold:
                reply.hold.wait(240)
            self.write(body[split:], chunked)
            try:
                while reply.endless:
                    self.write(bytes(65536), chunked)
            except (OSError, ValueError):   # the client closed the connection
                return
            if reply.cut_at is not None:  # linger 0: the close resets the connection
                self.connection.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
            elif chunked:
                self.wfile.write(b"0\r\n\r\n")
            self.close_connection = True

        def write(self, data, chunked):
            for at in range(0, len(data), 65536):
                part = data[at:at + 65536]
                self.wfile.write(b"%x\r\n%s\r\n" % (len(part), part) if chunked else part)
            self.wfile.flush()

    return Handler


class Tunnel:
    """An HTTP proxy on localhost:TUNNEL_PORT for one client: records the CONNECT target, passes the
    bytes on to the server, and sets `closed` when either side has gone."""

    def __init__(self):
        self.target, self.closed = None, threading.Event()
        self.listener = socket.create_server(("127.0.0.1", TUNNEL_PORT))
        self.listener.settimeout(120)
        threading.Thread(target=self._serve, daemon=True).start()

    def _serve(self):
        try:
            client, _ = self.listener.accept()
            client.settimeout(30)
            with client, socket.create_connection(("127.0.0.1", PORT), timeout=30) as server:
                head = b""
                while b"\r\n\r\n" not in head and (more := client.recv(4096)):
                    head += more
                self.target = head.split(b" ")[1].decode() if head.startswith(b"CONNECT ") else head[:60]
                client.sendall(b"HTTP/1.1 200 Connection established\r\n\r\n")
                threading.Thread(target=self._pump, args=(server, client), daemon=True).start()
                self._pump(client, server)
        except OSError:
            pass
        finally:
            self.listener.close()
            self.closed.set()

    @staticmethod
    def _pump(source, sink):
        with contextlib.suppress(OSError):
            while data := source.recv(65536):
                sink.sendall(data)
            sink.shutdown(socket.SHUT_WR)
