"""Zentrovia.exe records where Media Foundation is missing, and a recording that cannot start
or cannot go on says so once and leaves a playable file: a recording without Media Foundation,
a folder that cannot be made, and a volume that fills up (a small tmpfs behind the
Pictures\\Zentrovia folder, filled from outside)."""
import contextlib
import os
import subprocess
import time

import zvtest as zv
from zentrovia import RECORD, check_recording, new_recording, start

MB = 1024 * 1024


def command(app, ident):
    zv.run_driver("command", "--hwnd", app.hwnd, "--id", ident)
    return time.monotonic()


def message_box(t, app, what):
    """Text of the program's one message box, which is then closed with OK; no second box follows."""
    box = zv.run_driver("msgbox", "--pid", app.pid, "--timeout-ms", 8000, timeout=30)
    zv.run_driver("msgbox", "--pid", app.pid, "--press", "ok", "--timeout-ms", 5000)
    t.check(zv.try_driver("msgbox", "--pid", app.pid, "--timeout-ms", 1500).code != 0, f"{what}: exactly one message")
    return box[0]["text"]


def without_media_foundation(t, folder):
    session = zv.env().session_env
    saved = session.get("WINEDLLOVERRIDES", "")
    session["WINEDLLOVERRIDES"] = f"{saved};mfplat,mfreadwrite=d".lstrip(";")
    try:
        app, _ = start(t)
    finally:
        session["WINEDLLOVERRIDES"] = saved
    began = command(app, RECORD)
    time.sleep(3)
    stopped = command(app, RECORD)
    path = new_recording(t, folder, set())
    check_recording(t, path, stopped - began, "without Media Foundation")
    path.unlink()
    zv.stop_app(app)


def folder_cannot_be_made(t, folder):
    folder.rmdir()
    folder.write_bytes(b"")  # a file where the folder should be
    app, _ = start(t)
    command(app, RECORD)
    text = message_box(t, app, "no folder")
    t.check(text.startswith("Recording could not start:\n") and "Zentrovia" in text, "no folder: the message", text)
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
        with open(filler, "wb") as f, contextlib.suppress(OSError):  # the recording may take the last bytes
            f.write(b"\0" * max(0, stats.f_bavail * stats.f_frsize - free_bytes))
        return time.monotonic()

    app, _ = start(t)
    fill_to(80 * MB)
    command(app, RECORD)
    text = message_box(t, app, "almost full")
    t.check(text.startswith("Recording could not start:\n") and "less than 100 MB free" in text,
            "almost full: Record refuses to start", text)
    t.check_equal(list(folder.glob("*.mp4")), [], "almost full: no file")

    filler.unlink()
    began = command(app, RECORD)
    time.sleep(2)
    filled = fill_to(30 * MB)
    text = message_box(t, app, "filling up")  # the box's wait is bounded
    t.check(text.startswith("Recording stopped:\n") and "The disk is almost full" in text, "filling up: the message", text)
    path = new_recording(t, folder, set())
    t.check(path.name in text, "filling up: the message names the file", text)
    # The guard looks about once a second, so the recording ends within a second of the filling.
    check_recording(t, path, filled - began + 0.5, "filling up")

    # Filled to the last byte at once, faster than the guard looks: a full disk all the same.
    filler.unlink()
    command(app, RECORD)
    path = zv.wait_for(lambda: [p for p in folder.glob("*.mp4") if p.stat().st_size > 0 and p != path], 20,
                       what="a second recording under way")[0]
    fill_to(0)
    text = message_box(t, app, "full")
    t.check(text.startswith("Recording stopped:\n") and ("The disk is full." in text or "almost full" in text),
            "full: the message says the disk is full", text)
    playable = subprocess.run(["ffprobe", "-v", "error", str(path)], capture_output=True, timeout=60).returncode == 0
    t.check(playable or "is in the file" not in text, "full: the message says what is true of the file", text)
    zv.stop_app(app)


def main(t):
    folder = zv.env().pictures_dir / "Zentrovia"
    if folder.is_file():
        folder.unlink()
    for old in folder.glob("*.mp4") if folder.is_dir() else []:
        old.unlink()
    without_media_foundation(t, folder)
    folder_cannot_be_made(t, folder)
    volume_fills_up(t, folder)


zv.run_test(main)
