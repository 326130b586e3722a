"""Zentrovia.exe records where Media Foundation is missing, and a recording that cannot start
or cannot go on says so once and leaves a playable file: a recording without Media Foundation,
a folder that cannot be made, and a volume that fills up (a small tmpfs behind the
Pictures\\Zentrovia folder, filled from outside)."""
import contextlib
import os
import re
import subprocess
import time

import zvtest as zv
from zentrovia import (BM_GETIMAGE, FOLDER, RECORD, check_recording, controls, new_recording,
                       seconds, start, status)

MB = 1024 * 1024
MICROPHONE = 1010


def command(app, ident):
    zv.run_driver("command", "--hwnd", app.hwnd, "--id", ident)
    return time.monotonic()


def message_box(t, app, what):
    """Text of the program's one message box, which is then closed with OK. A second box would be up by the
    time the main window has handled a command posted after the OK (the microphone button, pressed twice)."""
    box = zv.run_driver("msgbox", "--pid", app.pid, "--timeout-ms", 30000, timeout=60)
    zv.run_driver("msgbox", "--pid", app.pid, "--press", "ok", "--timeout-ms", 5000)
    picture = lambda: zv.run_driver("send", "--hwnd", controls(app)[MICROPHONE]["hwnd"], "--msg", BM_GETIMAGE)
    before = picture()
    command(app, MICROPHONE)
    zv.wait_for(lambda: picture() != before, 30, what="the microphone button to change")
    t.check(not zv.windows(pid=app.pid, class_name="#32770", visible=True), f"{what}: exactly one message")
    command(app, MICROPHONE)
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
    zv.wait_for(lambda: seconds(status(app)) >= 3, 30, what="three seconds of recording")
    stopped = command(app, RECORD)
    path = new_recording(t, folder, set())
    check_recording(t, path, stopped - began, "without Media Foundation")
    path.unlink()
    zv.stop_app(app)


def folder_cannot_be_made(t, folder):
    """A file where the folder should be (the folder "exists", the file cannot be made in it), then a file
    where Pictures should be (CreateDirectoryW fails): each start says why, naming what it could not make."""
    pictures, aside = folder.parent, folder.parent.with_name("Pictures.aside")
    t.at_cleanup(lambda: aside.exists() and (pictures.unlink(missing_ok=True), aside.rename(pictures)))
    folder.rmdir()
    for in_the_way, name in ((folder, r"\\Zentrovia_\d{8}_\d{6}\.mp4"), (pictures, "")):
        if in_the_way == pictures:
            folder.unlink()
            pictures.rename(aside)
        in_the_way.write_bytes(b"")
        app, _ = start(t)
        shown = re.escape(controls(app)[FOLDER]["text"])
        command(app, RECORD)
        text = message_box(t, app, f"no {in_the_way.name}")
        t.check(re.fullmatch(f"Recording could not start:\n{shown}{name}\n\n"
                             "The folder does not exist and cannot be created there.", text),
                f"no {in_the_way.name}: the message names what could not be made, and why", text)
        t.check(in_the_way.is_file() and in_the_way.stat().st_size == 0, f"no {in_the_way.name}: no file appears")
        zv.stop_app(app)
    pictures.unlink()
    aside.rename(pictures)


def volume_fills_up(t, folder):
    folder.mkdir(parents=True, exist_ok=True)
    t.require(subprocess.run(["mount", "-t", "tmpfs", "-o", "size=160m", "tmpfs", str(folder)]).returncode == 0,
              "a 160 MB tmpfs is mounted on the recording folder")
    t.at_cleanup(lambda: subprocess.run(["umount", "-l", str(folder)]))
    filler = folder / "filler.bin"

    def fill_to(free_bytes):
        stats, held = os.statvfs(folder), filler.stat().st_size if filler.exists() else 0
        with open(filler, "wb") as f, contextlib.suppress(OSError):  # the recording may take the last bytes
            f.write(b"\0" * max(0, stats.f_bavail * stats.f_frsize + held - free_bytes))
        return time.monotonic()

    app, _ = start(t)
    fill_to(100 * MB - 4096)  # one block short of what a start needs
    command(app, RECORD)
    text = message_box(t, app, "almost full")
    t.check(text.startswith("Recording could not start:\n") and "less than 100 MB free" in text,
            "almost full: Record refuses to start", text)
    t.check_equal(list(folder.glob("*.mp4")), [], "almost full: no file")

    fill_to(100 * MB)  # exactly enough
    began = command(app, RECORD)
    zv.wait_for(lambda: seconds(status(app)) >= 1, 30, what="a recording with exactly 100 MB free")
    fill_to(52 * MB)  # above what going on needs, with room for two seconds of writing
    zv.wait_for(lambda: seconds(status(app)) >= 4, 30, what="the recording to go on with 52 MB free")
    filled = fill_to(50 * MB - 4096)
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
