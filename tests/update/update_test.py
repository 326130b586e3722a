"""The update journeys under Wine against the scripted HTTPS server: the shipped program's own
server asked through a proxy and a certificate for another name refused; the check's decision
table (through update_probe), then the prompt, failing downloads, progress, Cancel and Exit
against a server that stops sending, and a complete download that starts the installer from a
folder of its own and ends a program that is recording."""
import json
import os
import re
import shutil
import subprocess
import tempfile
import threading
import time
import urllib.parse
from pathlib import Path

import zvtest as zv
from update_server import BASE, TUNNEL_PORT, Reply, Server, Tunnel

PROBE = Path(os.environ["ZV_UPDATE_PROBE"])
LATEST, SETUP = "/api/version/latest", "/Zentrovia-Setup.exe"
PROMPT, FAILED, PROGRESS = "Zentrovia Update Available", "Update Failed", "Downloading Update..."
QUESTION = "Click OK to download and install, or Cancel to skip."
DOWNLOAD_FAILED = "Download failed. Please check your internet connection and try again."
PBM_GETRANGE, PBM_GETPOS, WM_UPDATE_AVAILABLE = 0x407, 0x408, 0x8064
MB = 2097152


def offer(version="1.0.1", changelog="", url=BASE + SETUP, available=True):
    fields = {"available": available, "version": version, "changelog": changelog, "download_url": url}
    return Reply(json.dumps(fields, separators=(",", ":")).encode())


def wine(*args, timeout=120):
    e = zv.env()
    return subprocess.run([str(e.wine_run), "--timeout", str(timeout), *map(str, args)], env=e.process_env(),
                          capture_output=True, text=True, timeout=timeout + 30, stdin=subprocess.DEVNULL)


def run_probe(*args):
    return dict(f.split("=", 1) for f in wine(PROBE, *args, timeout=40).stdout.split() if "=" in f)


def check_shipped_server(t, server):
    """The shipped program asks the server it was built with, over HTTPS; a server whose certificate is
    for another name (ours, for localhost, with an offer ready) never even gets the request."""
    server.routes[LATEST], served, tunnel = offer(), len(server.served), Tunnel()
    os.environ["http_proxy"] = f"http://127.0.0.1:{TUNNEL_PORT}"  # read by WinHTTP's default proxy setting
    try:
        app = zv.start_app(os.environ["ZV_SHIPPED_EXE"])
    finally:
        del os.environ["http_proxy"]
    try:
        win = zv.find_window(title="zentrovia", class_name="ZENTROVIA", timeout_ms=20000)
        app.hwnd, app.pid = win["hwnd"], int(win["pid"])
        t.check(tunnel.closed.wait(90), "the shipped program's update check ended")
        expected = urllib.parse.urlsplit(os.environ["ZV_SHIPPED_SERVER"])
        t.check_equal((expected.scheme, tunnel.target), ("https", f"{expected.hostname}:{expected.port or 443}"),
                      "it asked for its own server, over HTTPS")
        t.check_equal(server.served[served:], [], "the certificate for another name was refused before the request")
    finally:
        zv.stop_app(app)


def check_decisions(t, server):
    long_version = "1.0.1" + "0" * 59   # 64 units: does not fit the read buffer with its terminator
    rows = [  # stored acknowledged version ("-": none), reply, offered
        ("-", offer(), "1"), ("1.0.1", offer(), "0"), ("1.0.2", offer(), "1"),
        ("1.0.1-RC", offer("1.0.1-rc"), "1"), ("-", offer("1.0.0"), "0"), ("-", offer("0.9"), "0"),
        ("-", offer(available=False), "0"), ("-", Reply(b'{"available": true, "version": "1.0.1"}'), "0"),
        ("-", Reply(b"<html>gone</html>", 404), "0"), ("-", Reply(b""), "0"), ("-", offer(""), "0"),
        (long_version[:-1], offer(long_version[:-1]), "0"), (long_version, offer(long_version), "1"),
        ("-", Reply(offer().body[:-1] + b',"x":"', length=None, endless=True), "0"),  # no end: no offer
        # A reply may take 64 KiB and not a byte more, told in advance or found out while reading.
        ("-", Reply(offer().body.ljust(65536)), "1"), ("-", Reply(offer().body.ljust(65537)), "0"),
        ("-", Reply(offer().body.ljust(65536), length=None), "1"), ("-", Reply(offer().body.ljust(65537), length=None), "0"),
    ]
    for stored, reply, expected in rows:
        server.routes[LATEST] = reply
        t.check_equal(run_probe("check", stored).get("offered"), expected, f"offered: {reply.body[:60]} / {stored}")
    run_probe("check", "-")


class Journey:
    """One run of the loopback program that the server offers `reply` to."""

    def __init__(self, t, server, reply, routes=(), exe=None):
        server.routes.update({LATEST: reply, **dict(routes)})
        self.t, self.app = t, zv.start_app(exe)
        t.at_cleanup(lambda: zv.stop_app(self.app))
        win = zv.find_window(title="zentrovia", class_name="ZENTROVIA", timeout_ms=20000)
        self.app.hwnd, self.app.pid, self.hwnd = win["hwnd"], int(win["pid"]), win["hwnd"]

    def box(self, title, press=None, timeout_ms=20000):
        records = zv.run_driver("msgbox", "--title", title, "--timeout-ms", timeout_ms, timeout=timeout_ms / 1000 + 20)
        if press:
            zv.run_driver("msgbox", "--title", title, "--press", press, "--timeout-ms", 5000)
        return records[0]["text"]

    def progress(self):
        window = zv.find_window(title=PROGRESS, timeout_ms=15000)
        children = zv.run_driver("children", "--hwnd", window["hwnd"])
        return window, {c["class"].lower(): c["hwnd"] for c in children}

    def still_running(self, what, leaves_nothing=True):
        self.t.check(self.app.exit_code() is None and zv.run_driver("state", "--hwnd", self.hwnd)[0]["exists"] == "1",
                     f"{what}: the program keeps running")
        self.t.check_equal(run_probe("read").get("stored", ""), "", f"{what}: nothing stored")
        if leaves_nothing:
            self.t.check_equal(download_folders(), [], f"{what}: no download left behind")
        zv.stop_app(self.app)


def download_folders():
    return sorted(launch_record().parent.glob("Zentrovia-Update-*"))


def check_prompts(t, server):
    # Started from a Downloads folder where DLLs were planted under the names it loads at run time.
    downloads = zv.env().pictures_dir.parent / "Downloads"
    downloads.mkdir(exist_ok=True)
    for name in ("mfplat.dll", "mfreadwrite.dll"):
        shutil.copy(os.environ["ZV_PLANTED_DLL"], downloads / name)
    j = Journey(t, server, offer(changelog="Faster start\nSmaller files"),
                exe=shutil.copy(zv.env().app_exe, downloads / "Zentrovia.exe"))
    t.check_equal(j.box(PROMPT, "cancel"), "A new version is available: 1.0.1\n\nWhat's new:\nFaster start\n"
                  "Smaller files\n\n" + QUESTION, "prompt with a changelog")
    j.still_running("Cancel in the prompt")
    t.check_equal(list(downloads.glob("*.loaded")), [], "no DLL planted beside the program is loaded")
    j = Journey(t, server, offer(url=""))
    t.check_equal(j.box(PROMPT, "ok"), "A new version is available: 1.0.1\n\n" + QUESTION, "prompt without changelog")
    t.check_equal(j.box("Update Error", "ok"), "No download URL available. Please contact support.", "no URL")
    j.still_running("no download URL")


def check_failed_downloads(t, server, installer):
    rows = [
        (BASE + "/missing.exe", Reply(), "Server returned HTTP 404. Check the download URL."),
        (f"http://localhost:{BASE.rsplit(':', 1)[1]}{SETUP}", Reply(installer), "Invalid download URL."),
        (BASE + SETUP, Reply(installer, cut_at=len(installer) // 2), DOWNLOAD_FAILED),
        (BASE + SETUP, Reply(installer, length=len(installer) + 100), DOWNLOAD_FAILED),
        # More than the largest installer taken, announced by a server that then stops: refused at once.
        (BASE + SETUP, Reply(installer, length=2**30 + 1, stall_at=0, hold=threading.Event()), DOWNLOAD_FAILED),
    ]
    for url, reply, message in rows:
        j = Journey(t, server, offer(url=url), {SETUP: reply})
        j.box(PROMPT, "ok")
        t.check_equal(j.box(FAILED, "ok"), message, f"download from {url}, {reply.length}")
        j.still_running(message)
    t.check(not launch_record().exists(), "no failed download starts anything")
    decline = launch_record().with_name("zv-decline")
    decline.touch()
    j = Journey(t, server, offer(), {SETUP: Reply(installer)})
    j.box(PROMPT, "ok")
    t.check_equal(j.box(FAILED, "ok"), "The installer could not be started.", "elevation declined")
    j.still_running("elevation declined")
    decline.unlink()
    # Bytes that are no program: the real start fails, and the user is told the same.
    j = Journey(t, server, offer(), {SETUP: Reply(b"no program")})
    j.box(PROMPT, "ok")
    t.check_equal(j.box(FAILED, "ok"), "The installer could not be started.", "a download that is no program")
    j.still_running("a download that is no program")
    launch_record().unlink()


def check_progress(t, server):
    # Each download is held by the server until the end of the test. Wine holds the last bytes of a
    # chunk back until more arrive: chunked, the hold comes a little later.
    for length, held_at, status, position, end in (
            (-1, MB // 4, "Downloading... 512 / 2048 KB", MB // 4, "click"),
            (None, MB // 4 + 512, "Downloading... 512 KB", 0, "close"),
            (-1, 0, "Connecting...", 0, "click"),   # headers, then nothing: Cancel does not wait for it
            (-1, 0, "Connecting...", 0, "exit")):   # nor does Exit
        reply = Reply(bytes(MB), length=length, stall_at=held_at, hold=threading.Event())
        j = Journey(t, server, offer(), {SETUP: reply})
        j.box(PROMPT, "ok")
        window, controls = j.progress()
        bar = controls["msctls_progress32"]
        send = lambda msg: int(zv.run_driver("send", "--hwnd", bar, "--msg", msg)[0]["result"])
        shown = lambda: (zv.run_driver("text", "--hwnd", controls["static"])[0]["text"], send(PBM_GETPOS),
                         send(PBM_GETRANGE))
        expected = (status, position, MB if length else 100)
        t.check_equal(zv.wait_for(lambda: (v := shown()) == expected and v, 15, what=status), expected, f"{status}")
        began = time.monotonic()
        if end == "exit":
            zv.run_driver("close", "--hwnd", j.hwnd)
            t.check_equal(zv.wait_exit(j.app, 15), 0, "Exit during a stalled download ends the program")
        else:
            zv.run_driver(end, "--hwnd", controls["button"] if end == "click" else window["hwnd"])
            zv.run_driver("wait-gone", "--hwnd", window["hwnd"], "--timeout-ms", 10000, timeout=30)
        # A figure, not a check: two driver runs under Wine included (goals: Cancel 1 s, Exit 2 s).
        print(f"FIGURE {end} at {held_at}: {time.monotonic() - began:.1f} s", flush=True)
        if end == "exit":
            continue
        t.check(not zv.windows(title=FAILED), f"{end} during the download shows no message")
        j.still_running(f"{end} during the download at {held_at}", leaves_nothing=False)


def check_nested_loops(t, server, installer):
    """A download that ends, or is cancelled, while another modal window runs its own loop keeps
    its real outcome, and closing one modal window ends no other window's loop."""
    def start():
        run_probe("check", "-")   # forget the version the last journey's installer acknowledged
        release, late = threading.Event(), offer()
        late.stall_at = 0
        j = Journey(t, server, late, {SETUP: Reply(installer, stall_at=len(installer) // 2, hold=release)})
        j.launches = len(launch_record().read_text().splitlines()) if launch_record().exists() else 0
        return j, release

    def open_window(j, command, title):
        zv.run_driver("command", "--hwnd", j.hwnd, "--id", command)
        return zv.find_window(title=title, pid=j.app.pid, timeout_ms=15000)["hwnd"]

    def close(hwnd):
        zv.run_driver("close", "--hwnd", hwnd)
        zv.run_driver("wait-gone", "--hwnd", hwnd, "--timeout-ms", 10000, timeout=30)

    def launched(j, release, what):
        release.set()
        t.check_equal(zv.wait_exit(j.app, 30), 0, f"{what}: the download ends the program")
        t.check_equal(len(launch_record().read_text().splitlines()), j.launches + 1, f"{what}: the installer started")

    j, release = start()   # the download ends while About is open
    j.box(PROMPT, "ok")
    window, controls = j.progress()
    about = open_window(j, 104, "About Zentrovia")
    release.set()
    full = f"Downloading... {len(installer) // 1024} / {len(installer) // 1024} KB"
    zv.wait_for(lambda: zv.run_driver("text", "--hwnd", controls["static"])[0]["text"] == full, 20, what=full)
    close(about)
    launched(j, release, "ended while About was open")

    j, release = start()   # the offer is taken while Settings is open
    j.box(PROMPT, "cancel")
    settings = open_window(j, 32773, "General Settings")
    zv.run_driver("post", "--hwnd", j.hwnd, "--msg", WM_UPDATE_AVAILABLE)   # the offer again
    j.box(PROMPT, "ok")
    j.progress()
    close(settings)
    launched(j, release, "Settings closed during the download")

    j, release = start()   # Cancel while About is open
    j.box(PROMPT, "ok")
    window, controls = j.progress()
    about = open_window(j, 104, "About Zentrovia")
    zv.run_driver("click", "--hwnd", controls["button"])
    zv.run_driver("wait-gone", "--hwnd", window["hwnd"], "--timeout-ms", 10000, timeout=30)
    t.check_equal(zv.run_driver("state", "--hwnd", about)[0]["exists"], "1", "Cancel leaves About open")
    close(about)
    t.check(not zv.windows(title=FAILED), "Cancel while About is open shows no message")
    j.still_running("Cancel while About is open", leaves_nothing=False)

    j, release = start()   # About closed under the region selector that was opened from it
    j.box(PROMPT, "ok")
    j.progress()
    about = open_window(j, 104, "About Zentrovia")
    selector = open_window(j, 1005, "Select Region")
    close(about)
    t.check_equal(zv.run_driver("state", "--hwnd", selector)[0]["exists"], "1", "closing About leaves the selector")
    zv.run_driver("post", "--hwnd", selector, "--msg", 0x100, "--wparam", 0x1B)   # WM_KEYDOWN, Escape
    zv.run_driver("wait-gone", "--hwnd", selector, "--timeout-ms", 10000, timeout=30)
    launched(j, release, "About and the selector closed during the download")
    run_probe("check", "-")


def launch_record():
    return zv.env().pictures_dir.parent / "Temp" / "zv-launch.txt"


def check_complete_download(t, server, installer):
    late = offer()
    late.stall_at, late.stall = 0, 4   # time to start a recording before the offer arrives
    j = Journey(t, server, late, {SETUP: Reply(installer)})
    folder = zv.env().pictures_dir / "Zentrovia"
    before = set(folder.glob("*.mp4"))
    zv.run_driver("command", "--hwnd", j.hwnd, "--id", 1001)
    j.box(PROMPT, "ok")
    t.check_equal(zv.wait_exit(j.app, 30), 0, "a complete download ends the program with 0")
    temp = launch_record().parent
    launch = dict(f.split("=", 1) for f in launch_record().read_text().split())
    t.check_equal(launch["verb"], "runas", "the installer is started elevated")
    folder_name = re.fullmatch(r".*\\(Zentrovia-Update-[0-9a-f]{32})\\Zentrovia-Setup.exe", launch["file"])
    t.require(folder_name, "the installer lies in a folder of its own", launch["file"])
    t.check_equal(launch["writable"], "0", "nobody can write the installer while it is started")
    ran = temp / folder_name[1] / "Zentrovia-Setup.exe.ran"
    zv.wait_for(ran.exists, 20, what="the installer ran")
    t.check_equal(run_probe("read").get("stored"), "1.0.1", "AcknowledgedVersion stored")
    recordings = sorted(set(folder.glob("*.mp4")) - before)
    t.require(len(recordings) == 1, "the running recording was kept")
    streams = zv.ffprobe_json(recordings[0])["streams"]
    t.check_equal([s["codec_name"] for s in streams], ["h264"], "the recording was finalized")
    j = Journey(t, server, offer(available=False))
    zv.wait_for(lambda: not download_folders(), 30, what="the next start removes the downloaded installer")
    zv.stop_app(j.app)


def main(t):
    server = Server(Path(tempfile.mkdtemp(prefix="zv-update-")))
    t.at_cleanup(server.stop)
    t.at_cleanup(lambda: run_probe("check", "-"))
    launch_record().unlink(missing_ok=True)
    installer = PROBE.read_bytes()
    check_shipped_server(t, server)
    check_decisions(t, server)
    check_prompts(t, server)
    check_failed_downloads(t, server, installer)
    check_progress(t, server)
    check_nested_loops(t, server, installer)
    check_complete_download(t, server, installer)


if __name__ == "__main__":
    zv.run_test(main)
