"""Edges of the recording workflow: pause while ready is inert, recordings follow the folder
box (also to a folder with non-ASCII characters, created on demand), the tray's duration
line at the start of a new recording, an output folder removed behind the program's back,
and an output folder that cannot be created (a file in its place)."""
import os
import shutil

import zvtest as zv
from mainwindow import (FOLDER, PAUSE, READY, RECORD, STATUS, Watcher, linux_path, output_folder_of, recordings_in,
                        seconds_shown, start_zentrovia, tray_duration)

BOUND_S = 10


def check_pause_inert_when_ready(t, w):
    start, posted = w.command(PAUSE)
    end, _ = w.settle(posted, 1000)
    t.check_equal(w.changes(start, end), [], "pause while Ready changes nothing")


def record_for(w, seconds):
    """Records until the status shows `seconds`, then stops; returns the last status value."""
    start, _ = w.command(RECORD)
    w.wait_status(f"Recording: 00:00:{seconds:02d}", BOUND_S + seconds, start)
    index, _ = w.command(RECORD)
    w.wait_status(READY, 30, index)
    return seconds


def check_tray_at_new_recording(t, w):
    """The tray keeps the last duration line it was given until the new recording's first
    tick, then follows the new recording."""
    record_for(w, 4)
    start, _ = w.command(RECORD)
    w.wait_child(STATUS, lambda r: r["text"].startswith("Recording:"), BOUND_S, "recording", start)
    if seconds_shown(w.latest(STATUS)["text"]) == 0:
        t.check_equal(tray_duration(t, w), 4, "new recording before its first tick: tray keeps the last line")
    w.wait_status("Recording: 00:00:02", BOUND_S, start)
    tray = tray_duration(t, w)
    shown = seconds_shown(w.latest(STATUS)["text"])
    t.check(abs(tray - shown) <= 1, "new recording after its first ticks: tray duration follows the status",
            f"tray {tray} s while the status shows {shown} s")
    index, _ = w.command(RECORD)
    w.wait_status(READY, 30, index)


def park(folder):
    """Moves the output folder aside; returns the restore action."""
    parked = folder.with_name(folder.name + f".parked-{os.getpid()}")
    folder.rename(parked)

    def restore():
        if folder.is_dir():
            for item in folder.iterdir():
                shutil.move(str(item), parked / item.name)
            folder.rmdir()
        elif folder.exists():
            folder.unlink()
        parked.rename(folder)
    return restore


def check_folder_recreated(t, w, folder):
    record_for(w, 1)
    t.check(folder.is_dir(), "a removed output folder is created again by the next recording")
    made = recordings_in(folder)
    t.check(len(made) == 1, "the recording is in the re-created folder", str(made))
    for name in made:
        probe = zv.ffprobe_json(folder / name)
        t.check_equal([s.get("codec_name") for s in probe.get("streams", [])], ["h264"],
                      "the recording in the re-created folder is a finalized MP4")
        (folder / name).unlink()


def check_unwritable_folder(t, w, app, folder):
    folder.rmdir()
    folder.write_bytes(b"not a folder")
    start, posted = w.command(RECORD)
    end, _ = w.settle(posted, 2000)
    statuses = [r["text"] for r in w.changes(start, end) if r["kind"] == "child" and int(r["id"]) == STATUS]
    print(f"status while the folder cannot be made: {statuses}", flush=True)
    t.check_equal(w.latest(STATUS)["text"], READY, "no folder to write to: the window stays (or comes back to) Ready")
    t.check_equal(app.exit_code(), None, "no folder to write to: the program keeps running")
    t.check_equal(folder.read_bytes(), b"not a folder", "the file in the folder's place is left alone")
    folder.unlink()
    record_for(w, 1)
    t.check_equal(len(recordings_in(folder)), 1, "with the folder back, recording works again")
    for name in recordings_in(folder):
        (folder / name).unlink()


def check_folder_box_followed(t, w, folder_box_text):
    """A recording goes to the folder the box shows when it starts, whatever its name."""
    pictures = folder_box_text.rpartition("\\")[0]
    for name in ("Zentrovia other", "Aufnahmen \u00fc \u65e5\u672c"):
        text = f"{pictures}\\{name}"
        target = linux_path(text)
        t.at_cleanup(lambda p=target: shutil.rmtree(p, ignore_errors=True))
        w.set_text(FOLDER, text)
        t.check_equal(w.wait_child(FOLDER, lambda r, x=text: r["text"] == x, BOUND_S, "folder box text")["text"], text,
                      f"folder box shows {text}")
        record_for(w, 1)
        made = recordings_in(target)
        t.check(len(made) == 1, f"the recording is in the folder shown: {text}", str(made))
        for made_name in made:
            probe = zv.ffprobe_json(target / made_name)
            t.check_equal([s.get("codec_name") for s in probe.get("streams", [])], ["h264"],
                          f"the recording in {name!r} is a finalized MP4")
        shutil.rmtree(target, ignore_errors=True)
    w.set_text(FOLDER, folder_box_text)


def main(t):
    app, win = start_zentrovia(t)
    w = Watcher(t, win["hwnd"])
    folder = output_folder_of(win["hwnd"])
    before = recordings_in(folder)
    check_pause_inert_when_ready(t, w)
    check_folder_box_followed(t, w, w.latest(FOLDER)["text"])
    check_tray_at_new_recording(t, w)
    for name in recordings_in(folder) - before:
        (folder / name).unlink()

    t.at_cleanup(park(folder))
    check_folder_recreated(t, w, folder)
    check_unwritable_folder(t, w, app, folder)

    zv.run_driver("post", "--hwnd", win["hwnd"], "--msg", zv.WM_CLOSE)
    t.check_equal(zv.wait_exit(app, 20), 0, "program ends with 0")


zv.run_test(main)
