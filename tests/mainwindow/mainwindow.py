"""Shared pieces of the main-window tests: starting Zentrovia, the zvwatch timeline,
the known ids and pictures, and the checks of a recorded file."""
from __future__ import annotations

import datetime
import os
import re
import shutil
import subprocess
import threading
import time
from collections.abc import Callable
from pathlib import Path
from typing import Any

import zvtest as zv

TITLE, CLASS = "zentrovia", "ZENTROVIA"
START_BOUND_MS = 20000

RECORD, PAUSE, FULL_SCREEN, REGION, MICROPHONE, WEBCAM = 1001, 1003, 1009, 1005, 1010, 1013
FOLDER, BROWSE, STATUS = 1011, 1012, 1007
ABOUT, EXIT, SETTINGS = 104, 105, 32773
TRAY_SHOW, TRAY_HIDE, TRAY_EXIT = 2001, 2002, 2003

WM_NULL, WM_CANCELMODE, WM_TRAYICON = 0x0000, 0x001F, 0x0401
WM_LBUTTONUP, WM_LBUTTONDOWN, WM_RBUTTONUP, WM_LBUTTONDBLCLK = 0x0202, 0x0201, 0x0205, 0x0203

READY = "Ready to Record"
RECORDING_TEXT = re.compile(r"Recording: (\d\d):(\d\d):(\d\d)$")
DURATION_TEXT = re.compile(r"Duration: (\d\d):(\d\d):(\d\d)$")
FILE_NAME = re.compile(r"Zentrovia_(\d{8}_\d{6})(_\d+)?\.mp4$")
SCREEN_SIZE = (1920, 1080)
SMOOTH_GAP_S = 0.3  # largest gap between frames of a smooth recording
HOLE_S = 1.0        # a gap this long means recorded time is missing (or a pause is in)


def seconds_shown(text: str, pattern: re.Pattern = RECORDING_TEXT) -> int | None:
    """hh:mm:ss of a status or tray text in seconds; None if the text has another form."""
    match = pattern.match(text)
    if not match:
        return None
    hours, minutes, seconds = (int(g) for g in match.groups())
    return hours * 3600 + minutes * 60 + seconds


# ---------------------------------------------------------------- the program

def start_zentrovia(t: zv.Test) -> tuple[zv.App, dict[str, str]]:
    """Starts Zentrovia, waits for its main window; the app is stopped at cleanup."""
    t.require(zv.env().app_exe is not None, "Zentrovia.exe path is known")
    app = zv.start_app()
    t.at_cleanup(lambda: zv.stop_app(app))
    win = zv.find_window(title=TITLE, class_name=CLASS, timeout_ms=START_BOUND_MS)
    app.hwnd, app.pid = win["hwnd"], int(win["pid"])
    return app, win


def children_by_id(hwnd: str) -> dict[int, dict[str, str]]:
    return {int(r["id"]): r for r in zv.run_driver("children", "--hwnd", hwnd) if r["id"] != "0"}


def linux_path(windows_path: str) -> Path:
    """C:\\... in the session's prefix as a Linux path."""
    prefix = Path(zv.env().session_env["WINEPREFIX"])
    drive, _, rest = windows_path.partition(":\\")
    if drive.upper() != "C":
        raise zv.CheckFailed(f"not a C: path: {windows_path}")
    return prefix / "drive_c" / Path(*rest.split("\\"))


def output_folder_of(hwnd: str) -> Path:
    return linux_path(children_by_id(hwnd)[FOLDER]["text"])


def recordings_in(folder: Path) -> set[str]:
    return {p.name for p in folder.glob("Zentrovia_*.mp4")} if folder.is_dir() else set()


def name_time(name: str) -> datetime.datetime:
    match = FILE_NAME.match(name)
    if not match:
        raise zv.CheckFailed(f"{name} is not a recording name")
    return datetime.datetime.strptime(match.group(1), "%Y%m%d_%H%M%S")


# ------------------------------------------------------------------ timeline

class Watcher:
    """zvwatch.exe on the main window: every change of its controls, timestamped, and
    messages posted on the same clock (t, in milliseconds since the watcher started)."""

    def __init__(self, t: zv.Test, hwnd: str, bound_s: float = 200) -> None:
        exe = os.environ.get("ZV_WATCH_EXE", "")
        if not exe or not Path(exe).is_file():
            raise zv.CheckFailed(f"ZV_WATCH_EXE does not name zvwatch.exe: {exe!r}")
        e = zv.env()
        self.hwnd = hwnd
        self.records: list[dict[str, str]] = []
        self._changed = threading.Condition()
        self._ended = False
        self._marks = 0
        self._showing: tuple[str, str, str] | None = None
        self.process = subprocess.Popen(
            [str(e.wine_run), "--timeout", str(int(bound_s)), "--stream", exe, "--hwnd", hwnd,
             "--max-ms", str(int(bound_s * 1000))],
            stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, env=e.process_env(),
            text=True, encoding="utf-8", errors="replace", bufsize=1)
        t.at_cleanup(self.close)
        threading.Thread(target=self._read, daemon=True).start()
        self.wait(lambda r: r["kind"] == "ready", 30, "the watcher's first snapshot")

    def _read(self) -> None:
        assert self.process.stdout
        for line in self.process.stdout:
            for record in zv.parse_records(line):
                if "t" in record:
                    record["t"] = int(record["t"])
                if record.get("kind") == "window":
                    showing = (record["exists"], record["visible"], record["iconic"])
                    record["focus_only"] = showing == self._showing
                    self._showing = showing
                with self._changed:
                    record["_i"] = len(self.records)
                    self.records.append(record)
                    self._changed.notify_all()
        with self._changed:
            self._ended = True
            self._changed.notify_all()

    def close(self) -> None:
        if self.process.poll() is None:
            try:
                self._send("quit")
                self.process.wait(timeout=10)
            except (OSError, subprocess.TimeoutExpired):
                self.process.kill()
                self.process.wait(timeout=10)

    def _send(self, line: str) -> None:
        assert self.process.stdin
        self.process.stdin.write(line + "\n")
        self.process.stdin.flush()

    def wait(self, predicate: Callable[[dict[str, Any]], Any], timeout: float, what: str,
             start: int = 0) -> dict[str, Any]:
        """First record at index >= start that satisfies predicate; bounded."""
        deadline = time.monotonic() + timeout
        index = start
        with self._changed:
            while True:
                while index < len(self.records):
                    if predicate(self.records[index]):
                        return self.records[index]
                    index += 1
                remaining = deadline - time.monotonic()
                if self._ended or remaining <= 0:
                    raise zv.CheckFailed(f"timed out after {timeout}s waiting for {what}"
                                         + (" (watcher ended)" if self._ended else ""))
                self._changed.wait(min(remaining, 0.5))

    def mark(self) -> tuple[int, int]:
        """A point on the timeline: (index of its record, t)."""
        self._marks += 1
        name = f"m{self._marks}"
        self._send(f"mark {name}")
        record = self.wait(lambda r: r["kind"] == "mark" and r["name"] == name, 15, f"mark {name}")
        return record["_i"], record["t"]

    def settle(self, since_t: int, quiet_ms: int = 1000) -> tuple[int, int]:
        """A mark at least quiet_ms after since_t: the end of a window in which a change would show."""
        index, now = self.mark()
        if now - since_t < quiet_ms:
            time.sleep((quiet_ms - (now - since_t)) / 1000)
            index, now = self.mark()
        return index, now

    def post(self, msg: int, wparam: int = 0, lparam: int = 0) -> tuple[int, int]:
        """Posts a message to the main window; returns (index, t) of the post."""
        with self._changed:
            start = len(self.records)
        self._send(f"post {msg} {wparam} {lparam}")
        record = self.wait(lambda r: r["kind"] == "posted" and int(r["msg"]) == msg and int(r["wparam"]) == wparam
                           and int(r["lparam"]) == lparam, 15, f"post of message {msg}", start=start)
        if record["ok"] != "1":
            raise zv.CheckFailed(f"PostMessage({msg}, {wparam}, {lparam}) failed")
        return record["_i"], record["t"]

    def command(self, command_id: int) -> tuple[int, int]:
        return self.post(zv.WM_COMMAND, command_id, 0)

    def bm_click(self, control_id: int) -> tuple[int, int]:
        with self._changed:
            start = len(self.records)
        self._send(f"bmclick {control_id}")
        record = self.wait(lambda r: r["kind"] == "bmclick" and int(r["id"]) == control_id, 15,
                           f"BM_CLICK on {control_id}", start=start)
        if record["ok"] != "1":
            raise zv.CheckFailed(f"BM_CLICK on control {control_id} failed")
        return record["_i"], record["t"]

    def set_text(self, control_id: int, text: str) -> None:
        """WM_SETTEXT on a control, as a folder chosen with Browse would leave it."""
        with self._changed:
            start = len(self.records)
        self._send(f"settext {control_id} {text}")
        record = self.wait(lambda r: r["kind"] == "settext" and int(r["id"]) == control_id, 15,
                           f"WM_SETTEXT on {control_id}", start=start)
        if record["ok"] != "1":
            raise zv.CheckFailed(f"WM_SETTEXT on control {control_id} failed")

    def wait_child(self, control_id: int, predicate: Callable[[dict[str, Any]], Any], timeout: float, what: str,
                   start: int = 0) -> dict[str, Any]:
        return self.wait(lambda r: r["kind"] == "child" and int(r["id"]) == control_id and predicate(r),
                         timeout, what, start)

    def wait_status(self, text: str, timeout: float, start: int = 0) -> dict[str, Any]:
        return self.wait_child(STATUS, lambda r: r["text"] == text, timeout, f"status '{text}'", start)

    def wait_window(self, predicate: Callable[[dict[str, Any]], Any], timeout: float, what: str,
                    start: int = 0) -> dict[str, Any]:
        return self.wait(lambda r: r["kind"] == "window" and predicate(r), timeout, what, start)

    def latest(self, control_id: int, before: int | None = None) -> dict[str, Any]:
        """The control's state as last reported (before record index `before`, if given)."""
        with self._changed:
            records = self.records[:before] if before is not None else list(self.records)
        for record in reversed(records):
            if record["kind"] == "child" and int(record["id"]) == control_id:
                return record
        raise zv.CheckFailed(f"the watcher never reported control {control_id}")

    def latest_window(self) -> dict[str, Any]:
        with self._changed:
            records = list(self.records)
        for record in reversed(records):
            if record["kind"] == "window":
                return record
        raise zv.CheckFailed("the watcher never reported the window")

    def changes(self, start: int, end: int | None = None) -> list[dict[str, Any]]:
        """Child and window changes between two record indexes; focus moving alone is no change."""
        with self._changed:
            records = self.records[start:end]
        return [r for r in records if r["kind"] == "child" or (r["kind"] == "window" and not r["focus_only"])]


# ------------------------------------------------------------------- the tray

def tray_menu(t: zv.Test, watcher: Watcher) -> list[dict[str, str]]:
    """Opens the tray icon's menu (a right-button release on the icon), reads its items and closes it."""
    watcher.post(WM_TRAYICON, 0, WM_RBUTTONUP)
    try:
        records = zv.run_driver("popup-menu", "--timeout-ms", 5000)
    finally:
        close_popup(watcher)
    popup = records[0]
    t.check_equal(popup["owner"], watcher.hwnd, "tray menu is owned by the main window")
    return records[1:]


def close_popup(watcher: Watcher) -> None:
    # WM_CANCELMODE ends the menu's modal loop; WM_NULL wakes it if it was idle.
    zv.try_driver("send", "--hwnd", watcher.hwnd, "--msg", WM_CANCELMODE, "--timeout-ms", 3000)
    watcher.post(WM_NULL)
    zv.wait_for(lambda: zv.try_driver("popup-menu", "--timeout-ms", 0).code == zv.DRIVER_FAILED, 10,
                what="the tray menu to close")


def tray_duration(t: zv.Test, watcher: Watcher) -> int:
    items = tray_menu(t, watcher)
    lines = [i["text"] for i in items if DURATION_TEXT.match(i["text"])]
    t.require(len(lines) == 1, "tray menu has one Duration line", str([i["text"] for i in items]))
    return seconds_shown(lines[0], DURATION_TEXT)


# ----------------------------------------------------------- recorded files

def check_recording(t: zv.Test, path: Path, expected_s: float, tolerance_s: float, label: str) -> None:
    """One H.264 stream of the full screen, duration near expected_s, no hole in the
    timeline (a pause must not show), and a clean decode."""
    probe = zv.ffprobe_json(path)
    streams = probe.get("streams", [])
    t.check_equal([s.get("codec_name") for s in streams], ["h264"], f"{label}: one H.264 stream")
    if not streams:
        return
    video = streams[0]
    t.check_equal((video.get("width"), video.get("height")), SCREEN_SIZE, f"{label}: frame size is the full screen")
    duration = float(probe.get("format", {}).get("duration", video.get("duration", "0")))
    t.check(abs(duration - expected_s) <= tolerance_s,
            f"{label}: duration {duration:.2f} s is {expected_s:.2f} ± {tolerance_s} s")
    times = [float(f["pts_time"]) for f in zv.ffprobe_frames(path) if "pts_time" in f]
    t.check(len(times) >= 2, f"{label}: at least two frames", f"{len(times)} frames")
    if len(times) < 2:
        return
    gaps = [b - a for a, b in zip(times, times[1:])]
    worst = max(range(len(gaps)), key=gaps.__getitem__)
    t.check(all(g > 0 for g in gaps), f"{label}: frame times increase")
    # Frames come every ~0.03-0.1 s; a grab starved by a busy machine may stretch one gap past
    # 0.3 s, a pause left in the timeline makes one of seconds.
    slow = sum(g >= SMOOTH_GAP_S for g in gaps)
    t.check(gaps[worst] < HOLE_S and slow <= max(1, len(gaps) // 50),
            f"{label}: no hole in the timeline: largest gap {gaps[worst]:.3f} s (at {times[worst]:.3f} s), "
            f"{slow} of {len(gaps)} gaps >= {SMOOTH_GAP_S} s")
    decode = subprocess.run([shutil.which("ffmpeg") or "ffmpeg", "-v", "error", "-i", str(path), "-enc_time_base",
                             "-1", "-f", "null", "-"], capture_output=True, text=True, timeout=300)
    t.check(decode.returncode == 0 and not decode.stdout.strip() and not decode.stderr.strip(),
            f"{label}: ffmpeg decodes it without a message", decode.stderr.strip()[:500])


def remove_if_passed(t: zv.Test, folder: Path, earlier: set[str]) -> None:
    """Deletes the recordings a passing test made; a failing test leaves them to look at."""
    if t.failed == 0:
        for name in recordings_in(folder) - earlier:
            (folder / name).unlink(missing_ok=True)
