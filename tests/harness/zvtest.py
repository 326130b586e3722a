"""Helpers for end-to-end tests that drive Windows programs under Wine; README.md shows their use."""
import array
import collections
import contextlib
import dataclasses
import fcntl
import functools
import json
import math
import os
import select
import subprocess
import sys
import threading
import time
import traceback
import types
from pathlib import Path
from typing import Any, Callable

WM_CLOSE, WM_COMMAND, WM_SYSCOMMAND, SC_MINIMIZE = 0x0010, 0x0111, 0x0112, 0xF020


class CheckFailed(Exception):
    """Ends the test: a check later steps depend on did not hold."""


@functools.cache
def env() -> types.SimpleNamespace:
    """The session and the paths CTest sets (README.md lists the fields)."""
    try:
        session = Path(os.environ["ZV_SESSION_DIR"])
        pairs = dict(line.split("=", 1) for line in (session / "env").read_text().splitlines() if "=" in line)
        return types.SimpleNamespace(
            session_dir=session, build_dir=Path(os.environ["ZV_BUILD_DIR"]), driver_exe=Path(os.environ["ZV_DRIVER_EXE"]),
            app_exe=Path(os.environ["ZV_APP_EXE"]) if os.environ.get("ZV_APP_EXE") else None,
            wine_run=Path(os.environ["ZV_WINE_RUN"]), test_timeout=float(os.environ.get("ZV_TEST_TIMEOUT", "180")),
            session_env=pairs, display=pairs["DISPLAY"], pictures_dir=Path((session / "pictures").read_text().strip()),
            process_env=lambda: {**os.environ, **pairs})
    except (KeyError, OSError) as missing:
        raise CheckFailed(f"no session or variable {missing} (run through ctest, after wine_session_start)")


class Test:
    """Counts checks; each prints one PASS/FAIL line with what was checked."""

    def __init__(self) -> None:
        self.passed = self.failed = 0
        self._cleanups: list[Callable[[], Any]] = []

    def check(self, condition: Any, what: str, detail: Any = "") -> bool:
        self.passed, self.failed = self.passed + bool(condition), self.failed + (not condition)
        print(f"{'PASS' if condition else 'FAIL'} {what}{'' if condition or detail == '' else f': {detail}'}", flush=True)
        return bool(condition)

    def check_equal(self, actual: Any, expected: Any, what: str) -> bool:
        return self.check(actual == expected, what, f"expected {expected!r}, got {actual!r}")

    def require(self, condition: Any, what: str, detail: Any = "") -> None:
        if not self.check(condition, what, detail):
            raise CheckFailed(None)

    def require_equal(self, actual: Any, expected: Any, what: str) -> None:
        self.require(actual == expected, what, f"expected {expected!r}, got {actual!r}")

    def at_cleanup(self, action: Callable[[], Any]) -> None:
        """Runs at the end whatever happened, last registered first."""
        self._cleanups.append(action)


def run_test(main: Callable[[Test], Any]) -> None:
    """Runs main(test), then the cleanups; exits 1 when a check failed or none passed."""
    test = Test()
    try:
        main(test)
    except CheckFailed as stop:
        test.failed += stop.args != (None,)  # a failed require() has been counted already
        print(f"FAIL {stop}\ntest stopped early" if stop.args != (None,) else "test stopped early", flush=True)
    except Exception:
        test.failed += 1
        traceback.print_exc()
    while test._cleanups:
        try:
            test._cleanups.pop()()
        except Exception:  # a failed cleanup must not hide the others
            test.failed += 1
            traceback.print_exc()
    print(f"{test.passed} checks passed, {test.failed} failed", flush=True)
    sys.exit(1 if test.failed or not test.passed else 0)


# code: 0 done, 1 not found / failed, 2 usage error; records: one dict per line printed.
DriverResult = collections.namedtuple("DriverResult", "code records stderr")


def _unescape(value: str) -> str:
    return value.replace("\\\\", "\0").replace("\\t", "\t").replace("\\n", "\n").replace("\\r", "\r").replace("\0", "\\")


def _run(*command: Any, timeout: float, check: bool = True, **options: Any) -> subprocess.CompletedProcess:
    try:
        done = subprocess.run(list(map(str, command)), capture_output=True, text=True, encoding="utf-8",
                              errors="replace", stdin=subprocess.DEVNULL, timeout=timeout, **options)
    except subprocess.TimeoutExpired:
        raise CheckFailed(f"{command} did not finish in {timeout} s")
    if check and done.returncode != 0:
        raise CheckFailed(f"{command} failed: {done.stderr.strip()}")
    return done


def try_driver(*args: Any, timeout: float = 30) -> DriverResult:
    """Runs one zvdriver command; its exit code and records (one dict per line)."""
    e = env()
    # wine-run keeps the program's output in files until it ends, so no Wine service inherits our pipe.
    done = _run(e.wine_run, "--timeout", int(timeout), e.driver_exe, *args, timeout=timeout + 10, check=False,
                env=e.process_env())
    records = [{k: _unescape(v) for k, _, v in (f.partition("=") for f in line.split("\t"))}
               for line in done.stdout.splitlines() if line]
    return DriverResult(done.returncode, records, done.stderr.strip())


def run_driver(*args: Any, timeout: float = 30) -> list[dict[str, str]]:
    result = try_driver(*args, timeout=timeout)
    if result.code != 0:
        raise CheckFailed(f"zvdriver {' '.join(map(str, args))} exited {result.code}: {result.stderr}")
    return result.records


def _filters(pid=None, title=None, class_name=None, visible=None) -> list[Any]:
    pairs = (("--pid", pid), ("--title", title), ("--class", class_name), ("--visible", int(visible or 0) or None))
    return [item for name, value in pairs if value is not None for item in (name, value)]


def find_window(title: str | None = None, class_name: str | None = None, timeout_ms: int = 5000, visible: bool = True,
                pid: int | None = None) -> dict[str, str]:
    return run_driver("find", "--timeout-ms", timeout_ms, *_filters(pid, title, class_name, visible),
                      timeout=timeout_ms / 1000 + 20)[0]


def windows(**filters: Any) -> list[dict[str, str]]:
    return run_driver("windows", *_filters(**filters))


@dataclasses.dataclass
class App:
    process: subprocess.Popen
    hwnd: str | None = None  # main window once found, as the driver prints it
    pid: int | None = None   # Windows process id once known

    def exit_code(self) -> int | None:
        return self.process.poll()


def start_app(exe: Path | str | None = None, args: tuple[str, ...] = (), bound: float | None = None) -> App:
    """Starts a Windows program (default Zentrovia.exe); wine-run ends it after `bound` s (default: the test's)."""
    e = env()
    program = Path(exe) if exe else e.app_exe
    if not program or not program.is_file():
        raise CheckFailed(f"no program to start: {program} (build it first)")
    bound = int(bound if bound is not None else e.test_timeout)
    return App(subprocess.Popen([e.wine_run, "--timeout", str(bound), program, *args], env=e.process_env(),
                                cwd=program.parent, stdin=subprocess.DEVNULL))


def wait_exit(app: App, timeout: float) -> int | None:
    with contextlib.suppress(subprocess.TimeoutExpired):
        return app.process.wait(timeout=timeout)


def stop_app(app: App, timeout: float = 5) -> int:
    """Ends the program whatever its state: WM_CLOSE, then TerminateProcess, then signals; its exit code."""
    if app.hwnd and app.process.poll() is None:
        try_driver("close", "--hwnd", app.hwnd, timeout=10)
    if app.pid and wait_exit(app, timeout) is None:
        try_driver("terminate", "--pid", app.pid, timeout=10)
    if wait_exit(app, timeout) is None:
        app.process.kill()
    return app.process.wait(timeout=timeout)


def wait_for(predicate: Callable[[], Any], timeout: float, interval: float = 0.1, what: str = "condition") -> Any:
    """Polls until predicate() returns something truthy and returns it; CheckFailed after timeout."""
    deadline = time.monotonic() + timeout
    while not (value := predicate()):
        if time.monotonic() >= deadline:
            raise CheckFailed(f"timed out after {timeout} s waiting for {what}")
        time.sleep(interval)
    return value


def xdotool(*args: Any, timeout: float = 10) -> str:
    """xdotool on the session's display: real X input, seen by Wine as a user's."""
    return _run("xdotool", *args, timeout=timeout, env={**os.environ, "DISPLAY": env().display}).stdout


def mouse_move(x: int, y: int) -> None:
    xdotool("mousemove", x, y)  # no --sync: it would wait forever if the pointer is there already


def mouse_click(x: int, y: int, button: int = 1) -> None:
    xdotool("mousemove", x, y, "click", button)


def key(*keys: str) -> None:
    """Key names as xdotool knows them: Escape, Return, alt+f..."""
    xdotool("key", "--delay", 100, *keys)



def ffprobe_json(path: Path | str, *extra: str, timeout: float = 120) -> dict[str, Any]:
    """ffprobe -show_format -show_streams (plus extra options) as parsed JSON."""
    return json.loads(_run("ffprobe", "-v", "error", "-print_format", "json", "-show_format", "-show_streams", *extra,
                           path, timeout=timeout).stdout)


def ffprobe_frames(path: Path | str, stream: str = "v:0") -> list[dict[str, Any]]:
    return ffprobe_json(path, "-select_streams", stream, "-show_frames").get("frames", [])


@dataclasses.dataclass
class Bitmap:
    width: int
    height: int
    rows: list[bytes]  # top row first, 3 bytes per pixel (B, G, R)

    def pixel(self, x: int, y: int) -> tuple[int, int, int]:  # (r, g, b) from the top-left
        return tuple(self.rows[y][3 * x:3 * x + 3][::-1])


def read_bmp(path: Path | str) -> Bitmap:
    """Reads the 24-bit BMP files `zvdriver capture` writes."""
    data = Path(path).read_bytes()
    offset, width, height = (int.from_bytes(data[a:a + 4], "little", signed=True) for a in (10, 18, 22))
    if data[:2] != b"BM" or data[28] != 24:
        raise CheckFailed(f"{path} is not a 24-bit BMP file")
    stride = (width * 3 + 3) & ~3
    rows = [data[offset + r * stride:offset + r * stride + width * 3] for r in range(abs(height))]
    return Bitmap(width, abs(height), rows[::-1] if height > 0 else rows)  # positive height: bottom-up


def capture(x: int, y: int, w: int, h: int, out: Path) -> Bitmap:
    run_driver("capture", "--x", x, "--y", y, "--w", w, "--h", h, "--out", "Z:" + str(out).replace("/", "\\"))
    return read_bmp(out)


class ToneSource:
    """Feeds the session's test source ("Zentrovia test source", 48 kHz mono) in real time: a 440 Hz
    tone at half scale (RMS 0.354) while `tone` is set, digital silence otherwise. The pipe source
    passes data on as it arrives, so a late feed is a hole in the sound: the feed runs 10 ms ahead
    in a process of its own, scheduled before the tests' and the machine's other work. While
    nobody records, the feed is dropped after 200 ms: no stale backlog."""

    def __init__(self) -> None:
        self._tone = False
        self._feeder = subprocess.Popen([sys.executable, __file__, "feed-tone", env().session_dir / "pulse" / "source"],
                                        stdin=subprocess.PIPE)

    @property
    def tone(self) -> bool:
        return self._tone

    @tone.setter
    def tone(self, on: bool) -> None:
        self._tone = on
        self._feeder.stdin.write(b"1" if on else b"0"), self._feeder.stdin.flush()

    def close(self) -> None:
        self._feeder.stdin.close()  # the feeder ends at the end of its input
        with contextlib.suppress(subprocess.TimeoutExpired):
            self._feeder.wait(5)
        if self._feeder.poll() is None:
            self._feeder.kill()


def _feed_tone(path: str) -> None:
    with contextlib.suppress(PermissionError):
        os.sched_setscheduler(0, os.SCHED_FIFO, os.sched_param(10))
    fifo, drain = os.open(path, os.O_WRONLY | os.O_NONBLOCK), os.open(path, os.O_RDONLY | os.O_NONBLOCK)
    with contextlib.suppress(BlockingIOError):  # what an earlier feed left unread
        while os.read(drain, 65536):
            pass
    fcntl.fcntl(fifo, 1031, 4096)  # F_SETPIPE_SZ
    os.close(drain)
    rate, tone, began, written, pending = 48000, False, time.monotonic(), 0, bytearray()
    while True:
        if select.select([sys.stdin], [], [], 0.005)[0]:
            said = os.read(sys.stdin.fileno(), 64)
            if not said:
                return
            tone = said.endswith(b"1")
        due = int((time.monotonic() - began) * rate) + rate // 100
        if tone:
            chunk = array.array("h", (int(16384 * math.sin(2 * math.pi * 440 * n / rate)) for n in range(written, due)))
        else:
            chunk = array.array("h", bytes(2 * (due - written)))
        # What the pipe cannot take yet waits; over 200 ms of it means nobody records: dropped.
        pending = (pending + chunk.tobytes())[-rate * 2 // 5:]
        with contextlib.suppress(BlockingIOError):
            del pending[:os.write(fifo, pending)]
        written = due


if __name__ == "__main__" and sys.argv[1:2] == ["feed-tone"]:
    _feed_tone(sys.argv[2])
