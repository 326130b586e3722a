"""Journey: record, pause and resume twice, and stop with real clicks, watching the status clock, the
button pictures, the folder box and the tray's duration line; find the file named after its
start time in the folder shown and check it with ffprobe/ffmpeg; record again when that name
is taken; leave through File > Exit while recording."""
import datetime
import shutil
import tempfile
import time
from pathlib import Path

import zvtest as zv
from zentrovia import (AWAY, BROWSE, FOLDER, PAUSE, READY, RECORD, STATUS, check_recording, click, controls,
                       decoded_pixels, linux_path, main_window, new_recording, picture_watch, pictures, recorded, rect,
                       seconds, start, status, status_watch, tray_duration)

SCRATCH = Path(tempfile.mkdtemp(prefix="zv-recording-"))


def state_of(app):
    """What a user sees of the recording state: status, record and pause pictures, folder box and Browse usable."""
    parts = controls(app)
    return parts[STATUS]["text"], *pictures(app, SCRATCH), (parts[FOLDER]["enabled"], parts[BROWSE]["enabled"])


def check_clock_from_zero(t, app, clicked):
    shown = status(app)
    t.check(seconds(shown) is not None and seconds(shown) <= time.monotonic() - clicked + 1,
            "the clock starts from 00:00:00", shown)


def check_tray_follows(t, app):
    before = seconds(status(app))
    tray = tray_duration(app)
    t.check(before - 1 <= tray <= seconds(status(app)), "the tray's duration line follows the status", (before, tray))


def check_pause_and_resume(t, app, ready, recording):
    paused = click(app, PAUSE, picture_watch(app, PAUSE, recording[2][0], "--until-not"))
    frozen = state_of(app)
    t.check(frozen[2][0] != recording[2][0] and frozen[2][1] not in (recording[2][1], ready[2][1]),
            "pausing shows a pause picture of its own, neither pause nor dimmed pause")
    t.check_equal((frozen[1], frozen[3]), (recording[1], ("0", "0")),
                  "paused: stop picture, folder and Browse disabled")
    tray = tray_duration(app)
    time.sleep(3)  # long enough that a clock counting the pause would show it
    t.check(abs(tray - seconds(frozen[0])) <= 1, "paused: the tray's duration line shows the paused time", tray)
    t.check_equal((status(app), tray_duration(app)), (frozen[0], tray), "paused: status and tray line stand still")
    resumed = click(app, PAUSE, picture_watch(app, PAUSE, recording[2][0]))
    shown = seconds(status(app))
    t.check(shown <= seconds(frozen[0]) + time.monotonic() - resumed[0] + 1, "the clock resumes without the pause",
            (frozen[0], shown))
    t.check(pictures(app, SCRATCH)[1] == recording[2], "resumed: the pause picture is back")
    return paused, resumed


def check_frame_shows_window(t, app, path):
    """A decoded frame holds the main window where it was: its dark background and the blue status text."""
    frame = decoded_pixels(path, 1.5)
    left, top, right, bottom = rect(main_window(app)["client"])

    def near(x, y, colour, tolerance):
        return max(abs(a - b) for a, b in zip(frame[3 * (y * 1920 + x):3 * (y * 1920 + x) + 3], colour)) <= tolerance
    below = [near(x, y, (45, 45, 48), 12)
             for x in range(left + 10, right - 10, 9) for y in range(top + 235, bottom - 5, 5)]
    t.check(sum(below) >= 0.95 * len(below), "a decoded frame shows the window's background where the window is")
    blue = sum(near(x, y, (79, 70, 229), 40) for x in range(left, right) for y in range(top + 170, top + 200))
    t.check(blue >= 200, "and its blue status text", blue)


def check_taken_name(t, app, folder):
    """Every name the next recording could take exists: it gets "_2" and the files stay as they were."""
    now = datetime.datetime.now()
    taken = [folder / f"Zentrovia_{now + datetime.timedelta(seconds=s):%Y%m%d_%H%M%S}.mp4" for s in range(-1, 30)]
    for path in taken:
        path.write_bytes(b"someone else's file")
        t.at_cleanup(lambda p=path: p.unlink(missing_ok=True))
    before = {p.name for p in folder.glob("*.mp4")}
    began = click(app, RECORD, status_watch(app, READY, "--until-not"))
    zv.wait_for(lambda: seconds(status(app)) >= 1, 30, what="a second of recording")
    stopped = click(app, RECORD, status_watch(app, READY))
    made = new_recording(t, folder, before)
    t.check(made.name[:-len("_2.mp4")] + ".mp4" in {p.name for p in taken}, "a taken name gets _2", made.name)
    t.check(all(p.read_bytes() == b"someone else's file" for p in taken), "existing files are never replaced")
    check_recording(t, made, recorded(began, stopped), "the _2 recording")
    made.unlink()


def check_exit_while_recording(t, app, folder):
    """Checked once the program has gone: the finished recording is all it left, in its folder or in Temp."""
    temp = zv.env().pictures_dir.parent / "Temp"
    before, temp_before = set(folder.iterdir()), set(temp.iterdir())
    began = click(app, RECORD, status_watch(app, READY, "--until-not"))
    zv.wait_for(lambda: seconds(status(app)) >= 2, 30, what="two seconds of recording")
    exiting = time.monotonic()
    zv.key("alt+f", "x")  # File > E&xit
    t.check_equal(zv.wait_exit(app, 30), 0, "File > Exit while recording ends the program with 0")
    made = new_recording(t, folder, {p.name for p in before})
    t.check_equal((set(folder.iterdir()) - before, set(temp.iterdir()) - temp_before), ({made}, set()),
                  "after the exit: the recording and no other file left behind")
    check_recording(t, made, recorded(began, (exiting, time.monotonic())), "left by File > Exit while recording")
    made.unlink()


def main(t):
    t.at_cleanup(lambda: shutil.rmtree(SCRATCH, ignore_errors=True))
    app, _ = start(t)
    folder = linux_path(controls(app)[FOLDER]["text"])
    before = {p.name for p in folder.glob("*.mp4")}
    zv.mouse_move(*AWAY)
    ready = state_of(app)
    t.check_equal((ready[0], ready[3]), (READY, ("1", "1")), "Ready: status, folder box and Browse usable")

    began = click(app, RECORD, status_watch(app, READY, "--until-not"))
    clicked = datetime.datetime.now() - datetime.timedelta(seconds=time.monotonic() - began[0])
    check_clock_from_zero(t, app, began[0])
    started = datetime.datetime.now()  # the program has taken the click by now, however busy the machine
    recording = state_of(app)
    t.check(recording[1] != ready[1] and recording[2] != ready[2], "record and pause change their pictures")
    t.check_equal(recording[3], ("0", "0"), "folder box and Browse are disabled while recording")
    zv.wait_for(lambda: seconds(status(app)) >= 3, 30, what="the clock to reach 00:00:03")
    check_tray_follows(t, app)
    pauses = [check_pause_and_resume(t, app, ready, recording)]
    # A second pause must be left out as well as the first, in the file and on the clock.
    zv.wait_for(lambda: seconds(status(app)) >= 5, 30, what="the clock to reach 00:00:05")
    pauses.append(check_pause_and_resume(t, app, ready, recording))
    zv.wait_for(lambda: seconds(status(app)) >= 7, 30, what="the clock to reach 00:00:07")
    stopped = click(app, RECORD, status_watch(app, READY))
    t.check_equal(state_of(app), ready, "stopped: Ready's status, pictures and usable folder box again")

    path = new_recording(t, folder, before)
    named = datetime.datetime.strptime(path.name, "Zentrovia_%Y%m%d_%H%M%S.mp4")
    t.check(clicked - datetime.timedelta(seconds=2) <= named <= started, "the file is named after its start time",
            (path.name, clicked, started))
    check_recording(t, path, recorded(began, stopped, *pauses), "the recording")
    check_frame_shows_window(t, app, path)
    path.unlink()
    check_taken_name(t, app, folder)
    check_exit_while_recording(t, app, folder)


zv.run_test(main)
