"""What the Zentrovia journeys share: starting the program, reading its window and tray menu
as a user sees them, and checking a recording with ffprobe/ffmpeg."""
import array
import hashlib
import math
import re
import time
import subprocess
from pathlib import Path

import zvtest as zv

RECORD, PAUSE, MICROPHONE, FOLDER, BROWSE, STATUS, SETTINGS = 1001, 1003, 1010, 1011, 1012, 1007, 32773
CB_GETCOUNT, CB_SETCURSEL = 0x0146, 0x014E
WM_TRAYICON, WM_RBUTTONUP, WM_LBUTTONDBLCLK, BM_GETIMAGE = 0x0401, 0x0205, 0x0203, 0x00F6
READY = "Ready to Record"
CLOCK = re.compile(r"(?:Recording|Duration): (\d\d):(\d\d):(\d\d)$")
AWAY = (1500, 900)  # where the pointer waits, off the window


def rect(value):
    """'left,top,right,bottom' of a driver record as numbers."""
    return tuple(int(v) for v in value.split(","))


def start(t):
    """Starts Zentrovia and waits for its main window; it is stopped at cleanup."""
    app = zv.start_app()
    t.at_cleanup(lambda: zv.stop_app(app))
    win = zv.find_window(title="zentrovia", class_name="ZENTROVIA", timeout_ms=20000)
    app.hwnd, app.pid = win["hwnd"], int(win["pid"])
    return app, win


def main_window(app):
    return zv.run_driver("find", "--title", "zentrovia", "--pid", app.pid)[0]


def controls(app):
    return {int(r["id"]): r for r in zv.run_driver("children", "--hwnd", app.hwnd) if r["id"] != "0"}


def status(app):
    return controls(app)[STATUS]["text"]


def seconds(text):
    """hh:mm:ss of a status or duration line in seconds; None for other texts."""
    match = CLOCK.match(text)
    return match and int(match[1]) * 3600 + int(match[2]) * 60 + int(match[3])


def took(before, watch):
    """Runs `watch` (a driver text or send with --until or --until-not), which waits within one run for the
    program to show what was asked of it at `before`; gives the span (before, seen), however busy the machine."""
    zv.run_driver(*watch, "--timeout-ms", 60000, timeout=90)
    return before, time.monotonic()


def status_watch(app, text, until="--until"):
    return "text", "--hwnd", controls(app)[STATUS]["hwnd"], until, text


def picture_watch(app, control_id, handle, until="--until"):
    return "send", "--hwnd", controls(app)[control_id]["hwnd"], "--msg", BM_GETIMAGE, until, handle


def picture(app, control_id):
    return zv.run_driver("send", "--hwnd", controls(app)[control_id]["hwnd"], "--msg", BM_GETIMAGE)[0]["result"]


def click(app, control_id, watch=None):
    """A real mouse click on a control of the main window; returns when it was made. The pointer then leaves.
    With a `watch`, the span within which the program took it (see took())."""
    client, (left, top, right, bottom) = rect(main_window(app)["client"]), rect(controls(app)[control_id]["rect"])
    before = time.monotonic()
    zv.mouse_click(client[0] + (left + right) // 2, client[1] + (top + bottom) // 2)
    clicked = time.monotonic()
    zv.mouse_move(*AWAY)
    return clicked if watch is None else took(before, watch)


def recorded(start, end, *pauses):
    """Time recorded between the spans of two clicks, less the pauses (pairs of spans), as the shortest and
    longest a file may be: reckoned from the clicks, to half a second and whatever any span took over a second."""
    spans = [start, end, *(span for pause in pauses for span in pause)]
    reckoned = end[0] - start[0] - sum(resumed[0] - paused[0] for paused, resumed in pauses)
    slack = 0.5 + sum(max(0, seen - asked - 1) for asked, seen in spans)
    return reckoned - slack, reckoned + slack


def pictures(app, scratch):
    """Handles and on-screen pictures of the record and pause buttons, without the edge where the
    corners and the focus mark change."""
    client, parts = rect(main_window(app)["client"]), controls(app)
    def one(control_id):
        left, top = rect(parts[control_id]["rect"])[:2]
        shot = zv.capture(client[0] + left + 8, client[1] + top + 8, 32, 32, scratch / f"{control_id}.bmp")
        return picture(app, control_id), hashlib.sha256(b"".join(shot.rows)).hexdigest()[:16]
    return one(RECORD), one(PAUSE)


def open_tray_menu(app):
    """A right click on the tray icon; returns the menu's items as the program holds them."""
    zv.run_driver("post", "--hwnd", app.hwnd, "--msg", WM_TRAYICON, "--lparam", WM_RBUTTONUP)
    popup = zv.find_window(class_name="#32768", pid=app.pid)
    return zv.run_driver("menu", "--hwnd", popup["hwnd"])


def tray_duration(app):
    items = open_tray_menu(app)
    zv.key("Escape")
    zv.wait_for(lambda: not zv.windows(class_name="#32768", visible=True), 10, what="the tray menu to close")
    return seconds(items[3]["text"])


def new_recording(t, folder, before):
    made = sorted(p.name for p in folder.glob("Zentrovia_*.mp4") if p.name not in before)
    t.require(len(made) == 1, f"one new recording in {folder}", made)
    return folder / made[0]


def check_recording(t, path, expected_s, label, sound=False):
    """One full-screen H.264 stream, with sound also one AAC 48 kHz stereo stream ending within a
    frame of the picture; expected_s long (to 1 s; or within half a second of a (shortest, longest)
    pair, see recorded()) with the pauses left out, no hole, decoded without a word."""
    probe = zv.ffprobe_json(path)
    streams = [(s["codec_name"], s.get("width", s.get("sample_rate")), s.get("height", s.get("channels")))
               for s in probe["streams"]]
    t.check_equal(streams, [("h264", 1920, 1080)] + [("aac", "48000", 2)] * sound,
                  f"{label}: one full-screen H.264 stream" + " and AAC 48 kHz stereo" * sound)
    if sound:
        ends = [float(s["start_time"]) + float(s["duration"]) for s in probe["streams"]]
        t.check(abs(ends[0] - ends[1]) <= 1 / 30, f"{label}: picture and sound end within a frame", ends)
    duration = float(probe["format"]["duration"])
    low, high = (expected_s - 1, expected_s + 1) if isinstance(expected_s, float) else (expected_s[0] - .5, expected_s[1] + .5)
    t.check(low <= duration <= high, f"{label}: {duration:.2f} s long, recorded {low:.2f} to {high:.2f} s")
    frames = zv.ffprobe_frames(path)
    times = [float(f["pts_time"]) for f in frames]
    gaps = [b - a for a, b in zip(times, times[1:])] or [0]
    # A machine too busy to take a click at once may also starve the capture: as long a hole is no fault.
    hole = max(1.0, (high - low - 1) / 2)
    t.check(min(gaps) > 0 and max(gaps) < hole, f"{label}: frames rise with no hole of {hole:.1f} s in the timeline",
            f"{max(gaps):.2f} s")
    # The program's own key-frame interval, 2 s: a player can seek to within 2 s anywhere.
    keys = [at for at, f in zip(times, frames) if f["key_frame"] == 1] + [duration]
    t.check(keys[0] == times[0] and max(b - a for a, b in zip(keys, keys[1:])) <= 2.01 + max(gaps)
            and len(keys) <= duration / 2 + 2,
            f"{label}: a key frame first and then every 2 s", keys)
    # The null muxer keeps the file's own time base, so frames close together draw no complaint.
    decode = subprocess.run(["ffmpeg", "-v", "error", "-i", str(path), "-enc_time_base", "-1", "-f", "null", "-"],
                            capture_output=True, text=True, timeout=300)
    t.check(decode.returncode == 0 and not decode.stderr, f"{label}: ffmpeg decodes it without a word",
            decode.stderr[:300])


def decoded_pixels(path, at_s):
    """RGB bytes of the frame at at_s seconds, decoded by ffmpeg."""
    return subprocess.run(["ffmpeg", "-v", "error", "-ss", str(at_s), "-i", str(path), "-frames:v", "1", "-f", "rawvideo",
                           "-pix_fmt", "rgb24", "-"], capture_output=True, timeout=120).stdout


def linux_path(windows_path):
    """C:\\... of the session's prefix as a Linux path."""
    return Path(zv.env().session_env["WINEPREFIX"], "drive_c", *windows_path[3:].split("\\"))


def list_texts(combo):
    """The items of a combo box, read by selecting each in turn."""
    count = int(zv.run_driver("send", "--hwnd", combo, "--msg", CB_GETCOUNT)[0]["result"])
    texts = []
    for i in range(count):
        zv.run_driver("send", "--hwnd", combo, "--msg", CB_SETCURSEL, "--wparam", i)
        texts.append(zv.run_driver("text", "--hwnd", combo)[0]["text"])
    return texts


def choose_sound(app, name):
    """Applies the settings window's audio entry `name`; gives the list's entries."""
    zv.run_driver("command", "--hwnd", app.hwnd, "--id", SETTINGS)
    win = zv.find_window(title="General Settings", pid=app.pid)
    combo = next(r["hwnd"] for r in zv.run_driver("children", "--hwnd", win["hwnd"]) if r["id"] == "31")
    texts = list_texts(combo)
    zv.run_driver("send", "--hwnd", combo, "--msg", CB_SETCURSEL, "--wparam", texts.index(name))
    zv.run_driver("command", "--hwnd", win["hwnd"], "--id", 20)  # Apply Settings
    zv.wait_for(lambda: not zv.windows(title="General Settings", pid=app.pid), 10, what="the settings to close")
    return texts


def decoded_sound(path):
    """The left channel of the sound as 48 kHz floats, how far the right one is from it (the RMS of
    their difference against the left's: AAC codes the two sides apart at times, so a few samples
    at a sudden change differ by some per cent), and the stream's start time."""
    raw = subprocess.run(["ffmpeg", "-v", "error", "-i", str(path), "-map", "0:a:0", "-f", "f32le", "-ar", "48000", "-"],
                         capture_output=True, timeout=120).stdout
    both = array.array("f", raw[:len(raw) // 8 * 8])
    start = float(zv.ffprobe_json(path, "-select_streams", "a:0")["streams"][0]["start_time"])
    left, right = both[0::2], both[1::2]
    apart = math.sqrt(sum((a - b) ** 2 for a, b in zip(left, right)) / max(sum(a * a for a in left), 1e-9))
    return left, apart, start
