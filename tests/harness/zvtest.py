"""Helpers for end-to-end tests that drive Windows programs under Wine.

A test script reads its paths from the environment CTest sets (see
zv_add_e2e_test), starts programs in the shared Wine session, inspects them
with zvdriver.exe and reports each check it makes:

    import zvtest as zv

    def main(t):
        app = zv.start_app()
        win = zv.find_window(title="zentrovia", timeout_ms=15000)
        t.check_equal(win["class"], "ZENTROVIA", "main window class")

    zv.run_test(main)
"""
from __future__ import annotations

import dataclasses
import json
import os
import shutil
import subprocess
import sys
import tempfile
import time
import traceback
from collections.abc import Callable
from pathlib import Path
from typing import Any

DRIVER_OK, DRIVER_FAILED, DRIVER_USAGE = 0, 1, 2
WM_CLOSE = 0x0010
WM_COMMAND = 0x0111
WM_SYSCOMMAND = 0x0112
SC_MINIMIZE = 0xF020
SC_RESTORE = 0xF120


# --------------------------------------------------------------------------- env

@dataclasses.dataclass(frozen=True)
class Env:
    session_dir: Path
    build_dir: Path | None
    app_exe: Path | None       # Zentrovia.exe; None when the build has no such target
    driver_exe: Path
    testwindow_exe: Path | None
    wine_run: Path
    test_timeout: float        # CTest's bound for the whole test, seconds
    session_env: dict[str, str]

    @property
    def display(self) -> str:
        return self.session_env["DISPLAY"]

    @property
    def pictures_dir(self) -> Path:
        """Linux path of C:\\users\\<user>\\Pictures in the session's prefix."""
        return Path((self.session_dir / "pictures").read_text().strip())

    def process_env(self) -> dict[str, str]:
        merged = dict(os.environ)
        merged.update(self.session_env)
        return merged


_env: Env | None = None


def _optional_path(name: str) -> Path | None:
    value = os.environ.get(name, "")
    return Path(value) if value else None


def _read_session_env(session_dir: Path) -> dict[str, str]:
    env_file = session_dir / "env"
    if not env_file.is_file():
        raise CheckFailed(f"no running Wine session: {env_file} is missing (run the wine_session_start test)")
    pairs = {}
    for line in env_file.read_text().splitlines():
        key, sep, value = line.partition("=")
        if sep:
            pairs[key] = value
    return pairs


def env() -> Env:
    """Paths and the session environment, from the variables CTest sets."""
    global _env
    if _env is None:
        missing = [n for n in ("ZV_SESSION_DIR", "ZV_DRIVER_EXE", "ZV_WINE_RUN") if not os.environ.get(n)]
        if missing:
            raise CheckFailed(f"environment variables not set: {', '.join(missing)} (run the test through ctest)")
        session_dir = Path(os.environ["ZV_SESSION_DIR"])
        _env = Env(
            session_dir=session_dir,
            build_dir=_optional_path("ZV_BUILD_DIR"),
            app_exe=_optional_path("ZV_APP_EXE"),
            driver_exe=Path(os.environ["ZV_DRIVER_EXE"]),
            testwindow_exe=_optional_path("ZV_TESTWINDOW_EXE"),
            wine_run=Path(os.environ["ZV_WINE_RUN"]),
            test_timeout=float(os.environ.get("ZV_TEST_TIMEOUT", "180")),
            session_env=_read_session_env(session_dir),
        )
    return _env


# ------------------------------------------------------------------ reporting

class CheckFailed(Exception):
    """Stops the test: a check that later steps depend on did not hold."""


class _Stopped(CheckFailed):
    """Raised by require(): the failure was already reported and counted."""


class Test:
    """Counts checks; each prints one PASS/FAIL line with what was checked."""

    def __init__(self) -> None:
        self.passed = 0
        self.failed = 0
        self._cleanups: list[Callable[[], Any]] = []

    def check(self, condition: bool, what: str, detail: str = "") -> bool:
        if condition:
            self.passed += 1
            print(f"PASS {what}", flush=True)
        else:
            self.failed += 1
            print(f"FAIL {what}" + (f": {detail}" if detail else ""), flush=True)
        return bool(condition)

    def check_equal(self, actual: Any, expected: Any, what: str) -> bool:
        return self.check(actual == expected, what, f"expected {expected!r}, got {actual!r}")

    def require(self, condition: bool, what: str, detail: str = "") -> None:
        """Like check, but a failure ends the test (later steps would be meaningless)."""
        if not self.check(condition, what, detail):
            raise _Stopped(what)

    def require_equal(self, actual: Any, expected: Any, what: str) -> None:
        self.require(actual == expected, what, f"expected {expected!r}, got {actual!r}")

    def at_cleanup(self, action: Callable[[], Any]) -> None:
        """Runs at the end whatever happened, last registered first."""
        self._cleanups.append(action)

    def run_cleanups(self) -> None:
        while self._cleanups:
            action = self._cleanups.pop()
            try:
                action()
            except Exception:  # a failed cleanup must not hide the others
                self.failed += 1
                print("FAIL cleanup raised:", flush=True)
                traceback.print_exc()


def run_test(main: Callable[[Test], Any]) -> None:
    """Runs main(test), then the cleanups; exits 1 when any check failed."""
    test = Test()
    try:
        main(test)
    except _Stopped:
        print("test stopped early", flush=True)
    except CheckFailed as stop:
        test.failed += 1
        print(f"FAIL {stop}", flush=True)
        print("test stopped early", flush=True)
    except Exception:
        test.failed += 1
        print("FAIL unexpected exception:", flush=True)
        traceback.print_exc()
    finally:
        test.run_cleanups()
    print(f"{test.passed} checks passed, {test.failed} failed", flush=True)
    sys.exit(1 if test.failed or test.passed == 0 else 0)


# ------------------------------------------------------------------- driver

@dataclasses.dataclass
class DriverResult:
    code: int
    records: list[dict[str, str]]
    stderr: str


def _unescape(value: str) -> str:
    out, i = [], 0
    replacements = {"t": "\t", "n": "\n", "r": "\r", "\\": "\\"}
    while i < len(value):
        c = value[i]
        if c == "\\" and i + 1 < len(value) and value[i + 1] in replacements:
            out.append(replacements[value[i + 1]])
            i += 2
        else:
            out.append(c)
            i += 1
    return "".join(out)


def parse_records(text: str) -> list[dict[str, str]]:
    """One dict per line of tab-separated key=value pairs."""
    records = []
    for line in text.splitlines():
        if not line:
            continue
        record = {}
        for field in line.split("\t"):
            key, _, value = field.partition("=")
            record[key] = _unescape(value)
        records.append(record)
    return records


def try_driver(*args: Any, timeout: float = 30) -> DriverResult:
    """Runs one zvdriver command; returns its exit code and records."""
    e = env()
    command = [str(e.wine_run), "--timeout", str(int(timeout)), str(e.driver_exe), *map(str, args)]
    # Files, not pipes: a Wine helper process started meanwhile could inherit a
    # pipe and keep it open long after the driver has exited.
    with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
        try:
            code = subprocess.run(command, stdout=out, stderr=err, stdin=subprocess.DEVNULL, env=e.process_env(),
                                  timeout=timeout + 10).returncode
        except subprocess.TimeoutExpired:
            raise CheckFailed(f"zvdriver {' '.join(map(str, args))} did not finish in {timeout + 10}s")
        out.seek(0)
        err.seek(0)
        stdout = out.read().decode("utf-8", errors="replace")
        stderr = err.read().decode("utf-8", errors="replace")
    return DriverResult(code, parse_records(stdout), stderr.strip())


def run_driver(*args: Any, timeout: float = 30) -> list[dict[str, str]]:
    """Runs one zvdriver command that must succeed; returns its records."""
    result = try_driver(*args, timeout=timeout)
    if result.code != DRIVER_OK:
        raise CheckFailed(f"zvdriver {' '.join(map(str, args))} exited {result.code}: {result.stderr}")
    return result.records


def number(value: str) -> int:
    """Decimal or 0x-hex field."""
    return int(value, 0)


def rect(value: str) -> tuple[int, int, int, int]:
    """'left,top,right,bottom' -> tuple."""
    left, top, right, bottom = (int(v) for v in value.split(","))
    return left, top, right, bottom


def size(value: str) -> tuple[int, int]:
    left, top, right, bottom = rect(value)
    return right - left, bottom - top


def centre(value: str) -> tuple[int, int]:
    left, top, right, bottom = rect(value)
    return (left + right) // 2, (top + bottom) // 2


def find_window(title: str | None = None, class_name: str | None = None, timeout_ms: int = 5000,
                visible: bool = True) -> dict[str, str]:
    args: list[Any] = ["find", "--timeout-ms", timeout_ms]
    if title is not None:
        args += ["--title", title]
    if class_name is not None:
        args += ["--class", class_name]
    if visible:
        args += ["--visible", 1]
    return run_driver(*args, timeout=timeout_ms / 1000 + 20)[0]


def windows(**filters: Any) -> list[dict[str, str]]:
    """Top-level windows; filters: pid, title, class_name, visible."""
    args: list[Any] = ["windows"]
    for key, value in filters.items():
        args += [f"--{'class' if key == 'class_name' else key}", int(value) if isinstance(value, bool) else value]
    return run_driver(*args)


def menu_tree(records: list[dict[str, str]]) -> list[dict[str, Any]]:
    """Nests `menu` records: each item gets an 'items' list of its submenu."""
    root: list[dict[str, Any]] = []
    by_path: dict[str, dict[str, Any]] = {}
    for record in records:
        item: dict[str, Any] = dict(record, items=[])
        by_path[record["path"]] = item
        parent_path, _, _ = record["path"].rpartition("/")
        (by_path[parent_path]["items"] if parent_path else root).append(item)
    return root


# ---------------------------------------------------------------- processes

@dataclasses.dataclass
class App:
    process: subprocess.Popen
    exe: Path
    hwnd: str | None = None    # main window once found, as printed by the driver
    pid: int | None = None     # Windows process id once known

    def exit_code(self) -> int | None:
        return self.process.poll()


def start_app(exe: Path | str | None = None, args: tuple[str, ...] = (), bound: float | None = None) -> App:
    """Starts a Windows program in the session (default: Zentrovia.exe).

    wine-run ends it after `bound` seconds (default: the test's own bound) even if
    the test dies before stop_app.
    """
    e = env()
    program = Path(exe) if exe else e.app_exe
    if not program:
        raise CheckFailed("ZV_APP_EXE is empty: the build has no Zentrovia target")
    if not program.is_file():
        raise CheckFailed(f"{program} does not exist (build it first)")
    limit = int(bound if bound is not None else e.test_timeout)
    process = subprocess.Popen([str(e.wine_run), "--timeout", str(limit), str(program), *args],
                               env=e.process_env(), cwd=program.parent, stdin=subprocess.DEVNULL)
    return App(process=process, exe=program)


def wait_exit(app: App, timeout: float) -> int | None:
    try:
        return app.process.wait(timeout=timeout)
    except subprocess.TimeoutExpired:
        return None


def stop_app(app: App, polite_timeout: float = 5, hard_timeout: float = 5) -> int:
    """Ends the program whatever state it is in; returns its exit code.

    WM_CLOSE to its main window first, then TerminateProcess through Wine (so the
    wineserver sees a normal process end), then signals as a last resort.
    """
    if app.process.poll() is not None:
        return app.process.returncode
    if app.hwnd:
        try_driver("close", "--hwnd", app.hwnd, timeout=10)
        if wait_exit(app, polite_timeout) is not None:
            return app.process.returncode
    if app.pid:
        try_driver("terminate", "--pid", app.pid, timeout=10)
        if wait_exit(app, hard_timeout) is not None:
            return app.process.returncode
    app.process.terminate()
    if wait_exit(app, hard_timeout) is None:
        app.process.kill()
        app.process.wait(timeout=hard_timeout)
    return app.process.returncode


def wait_for(predicate: Callable[[], Any], timeout: float, interval: float = 0.1, what: str = "condition") -> Any:
    """Polls until predicate() returns something truthy; raises CheckFailed after timeout."""
    deadline = time.monotonic() + timeout
    while True:
        value = predicate()
        if value:
            return value
        if time.monotonic() >= deadline:
            raise CheckFailed(f"timed out after {timeout}s waiting for {what}")
        time.sleep(interval)


# ------------------------------------------------------------------ xdotool

def xdotool(*args: Any, timeout: float = 10) -> str:
    """Runs xdotool on the session's display (real X input, seen by Wine as a user's)."""
    tool = shutil.which("xdotool")
    if not tool:
        raise CheckFailed("xdotool not found (apt-get install xdotool)")
    try:
        done = subprocess.run([tool, *map(str, args)], capture_output=True, text=True, timeout=timeout,
                              env={**os.environ, "DISPLAY": env().display})
    except subprocess.TimeoutExpired:
        raise CheckFailed(f"xdotool {' '.join(map(str, args))} did not finish in {timeout}s")
    if done.returncode != 0:
        raise CheckFailed(f"xdotool {' '.join(map(str, args))} failed: {done.stderr.strip()}")
    return done.stdout


def mouse_move(x: int, y: int) -> None:
    # No --sync: it waits for a motion event, which never comes if the pointer is already there.
    xdotool("mousemove", x, y)


def mouse_click(x: int, y: int, button: int = 1) -> None:
    mouse_move(x, y)
    xdotool("click", button)


def key(*keys: str) -> None:
    """Key names as xdotool knows them: Escape, Return, alt+f, ctrl+shift+F9..."""
    xdotool("key", *keys)


def type_text(text: str) -> None:
    xdotool("type", "--delay", 20, text)


# ------------------------------------------------------------------ ffprobe

def ffprobe_json(path: Path | str, *extra: str, timeout: float = 60) -> dict[str, Any]:
    """ffprobe -show_format -show_streams (plus extra options) as parsed JSON."""
    tool = shutil.which("ffprobe")
    if not tool:
        raise CheckFailed("ffprobe not found (apt-get install ffmpeg)")
    done = subprocess.run([tool, "-v", "error", "-print_format", "json", "-show_format", "-show_streams",
                           *extra, str(path)], capture_output=True, text=True, timeout=timeout)
    if done.returncode != 0:
        raise CheckFailed(f"ffprobe {path} failed: {done.stderr.strip()}")
    return json.loads(done.stdout)


def ffprobe_frames(path: Path | str, stream: str = "v:0", timeout: float = 120) -> list[dict[str, Any]]:
    """Per-frame records (pts_time, key_frame, pict_type...) of one stream."""
    return ffprobe_json(path, "-select_streams", stream, "-show_frames", timeout=timeout).get("frames", [])


# ---------------------------------------------------------------------- bmp

@dataclasses.dataclass
class Bitmap:
    width: int
    height: int
    rows: list[bytes]  # top row first, 3 bytes per pixel (B, G, R)

    def pixel(self, x: int, y: int) -> tuple[int, int, int]:
        """(r, g, b) at x, y from the top-left."""
        b, g, r = self.rows[y][3 * x:3 * x + 3]
        return r, g, b


def read_bmp(path: Path | str) -> Bitmap:
    """Reads the 24-bit BMP files `zvdriver capture` writes."""
    data = Path(path).read_bytes()
    if data[:2] != b"BM":
        raise CheckFailed(f"{path} is not a BMP file")
    offset = int.from_bytes(data[10:14], "little")
    width = int.from_bytes(data[18:22], "little", signed=True)
    height = int.from_bytes(data[22:26], "little", signed=True)
    bits = int.from_bytes(data[28:30], "little")
    if bits != 24:
        raise CheckFailed(f"{path}: {bits}-bit BMP, expected 24")
    stride = (width * 3 + 3) & ~3
    rows = [data[offset + r * stride: offset + r * stride + width * 3] for r in range(abs(height))]
    if height > 0:  # bottom-up
        rows.reverse()
    return Bitmap(width, abs(height), rows)


def capture(x: int, y: int, w: int, h: int, out: Path) -> Bitmap:
    """Screen region through zvdriver (BitBlt inside Wine), read back."""
    windows_path = "Z:" + str(out).replace("/", "\\")
    run_driver("capture", "--x", x, "--y", y, "--w", w, "--h", h, "--out", windows_path)
    return read_bmp(out)
