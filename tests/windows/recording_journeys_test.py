"""Zentrovia.exe records where Media Foundation is missing, and a recording that cannot start
or cannot go on says so once and leaves a playable file: 5 s with a pause and no Media
Foundation, a folder that cannot be made, and a volume that fills up (a small tmpfs behind
the Pictures\\Zentrovia folder, filled from outside)."""
import os
import subprocess
import time

import zvtest as zv

ID_RECORD, ID_PAUSE = 1001, 1003
NO_MEDIA_FOUNDATION = "mfplat,mfreadwrite=d"
MB = 1024 * 1024


def start(t, dll_overrides=None):
    session = zv.env().session_env
    saved = session.get("WINEDLLOVERRIDES", "")
    if dll_overrides:
        session["WINEDLLOVERRIDES"] = f"{saved};{dll_overrides}" if saved else dll_overrides
    try:
        app = zv.start_app()
    finally:
        session["WINEDLLOVERRIDES"] = saved
    t.at_cleanup(lambda: zv.stop_app(app))
    win = zv.find_window(title="zentrovia", class_name="ZENTROVIA", timeout_ms=20000)
    app.hwnd, app.pid = win["hwnd"], int(win["pid"])
    return app


def command(app, ident):
    zv.run_driver("command", "--hwnd", app.hwnd, "--id", ident)


def message_box(app, timeout_ms=8000):
    """Text of the program's one message box, which is then closed with OK."""
    box = zv.run_driver("msgbox", "--pid", app.pid, "--timeout-ms", timeout_ms, timeout=30)
    zv.run_driver("msgbox", "--pid", app.pid, "--press", "ok", "--timeout-ms", 5000)
    return box[0]["text"]


def no_second_box(t, app, what):
    t.check(zv.try_driver("msgbox", "--pid", app.pid, "--timeout-ms", 1500).code != 0, f"{what}: exactly one message")


def recordings(folder):
    return sorted(folder.glob("Zentrovia_*.mp4")) if folder.is_dir() else []


def check_playable(t, path, what, min_seconds, max_seconds=None):
    # The null muxer takes the file's own time base: frames stamped with their real times may
    # share one tick of a 1/30 s base and draw a complaint that says nothing about the file.
    errors = subprocess.run(["ffmpeg", "-v", "error", "-i", str(path), "-enc_time_base", "-1", "-f", "null", "-"],
                            capture_output=True, text=True, timeout=120)
    t.check_equal(errors.stderr.strip(), "", f"{what}: ffmpeg decodes the file without a word")
    video = zv.ffprobe_json(path, "-show_streams", "-show_format")
    t.check_equal([s["codec_name"] for s in video["streams"]], ["h264"], f"{what}: one H.264 stream")
    duration = float(video["format"]["duration"])
    t.check(duration >= min_seconds and (max_seconds is None or duration <= max_seconds),
            f"{what}: duration {duration:.2f} s")
    times = [float(f["pts_time"]) for f in zv.ffprobe_frames(path) if "pts_time" in f]
    gaps = [b - a for a, b in zip(times, times[1:])]
    # A loaded machine may skip a few frames, but never a whole 1.5 s pause.
    t.check(gaps and max(gaps) < 1.0, f"{what}: no pause in the timeline (largest gap {max(gaps or [0]):.3f} s)")


def without_media_foundation(t, folder):
    app = start(t, NO_MEDIA_FOUNDATION)
    began = time.monotonic()
    command(app, ID_RECORD)
    time.sleep(2.5)
    command(app, ID_PAUSE)
    time.sleep(1.5)
    command(app, ID_PAUSE)
    time.sleep(2.5)
    command(app, ID_RECORD)
    wall = time.monotonic() - began
    files = recordings(folder)
    t.require_equal(len(files), 1, "without Media Foundation: one recording")
    check_playable(t, files[0], "without Media Foundation", 4.0, wall - 1.0)
    files[0].unlink()
    zv.stop_app(app)


def folder_cannot_be_made(t, folder):
    folder.rmdir()
    folder.write_bytes(b"")  # a file where the folder should be
    app = start(t)
    command(app, ID_RECORD)
    text = message_box(app)
    t.check(text.startswith("Recording could not start:\n") and "Zentrovia" in text, "no folder: the message", text)
    no_second_box(t, app, "no folder")
    t.check(folder.is_file() and folder.stat().st_size == 0, "no folder: no file appears")
    zv.stop_app(app)
    folder.unlink()


def volume_fills_up(t, folder):
    folder.mkdir(parents=True, exist_ok=True)
    t.require(subprocess.run(["mount", "-t", "tmpfs", "-o", "size=160m", "tmpfs", str(folder)]).returncode == 0,
              "a 160 MB tmpfs is mounted on the recording folder")
    t.at_cleanup(lambda: subprocess.run(["umount", "-l", str(folder)]))
    filler = folder / "filler.bin"

    def fill_to(free_bytes):
        stats = os.statvfs(folder)
        with open(filler, "ab") as out:
            out.truncate(0)
        with open(filler, "ab") as out:
            out.write(b"\0" * max(0, stats.f_bavail * stats.f_frsize - free_bytes))

    app = start(t)
    fill_to(80 * MB)
    command(app, ID_RECORD)
    text = message_box(app)
    t.check(text.startswith("Recording could not start:\n") and "less than 100 MB free" in text,
            "almost full: Record refuses to start", text)
    t.check_equal(recordings(folder), [], "almost full: no file")

    filler.unlink()
    command(app, ID_RECORD)
    time.sleep(2)
    fill_to(30 * MB)
    text = message_box(app)  # the guard looks about once a second; the box's wait is bounded
    t.check(text.startswith("Recording stopped:\n") and "The disk is almost full" in text, "filling up: the message", text)
    no_second_box(t, app, "filling up")
    files = recordings(folder)
    t.require_equal(len(files), 1, "filling up: one recording")
    t.check(files[0].name in text, "filling up: the message names the file", text)
    check_playable(t, files[0], "filling up", 1.0)
    zv.stop_app(app)


def main(t):
    folder = zv.env().pictures_dir / "Zentrovia"
    if folder.is_file():
        folder.unlink()
    for old in recordings(folder):
        old.unlink()
    without_media_foundation(t, folder)
    folder_cannot_be_made(t, folder)
    volume_fills_up(t, folder)


zv.run_test(main)
