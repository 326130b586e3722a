"""Zentrovia.exe records where Media Foundation is missing, and a recording that cannot start
or cannot go on says so once and leaves a playable file: a recording without Media Foundation,
a folder that cannot be made, and a volume that fills up (a small tmpfs behind the
Pictures\\Zentrovia folder, filled from outside); and sound from the session's test source."""
import contextlib
import math
import os
import re
import subprocess
import time
import tkinter

import zvtest as zv
from zentrovia import (BM_GETIMAGE, FOLDER, MICROPHONE, PAUSE, READY, RECORD, check_recording, choose_sound, controls,
                       decoded_sound, new_recording, recorded, seconds, start, status, status_watch, took)

MB = 1024 * 1024


def command(app, ident, watch=None):
    """Posts the command; gives when, the middle of the driver's run; with a `watch`, the span of took()."""
    before = time.monotonic()
    zv.run_driver("command", "--hwnd", app.hwnd, "--id", ident)
    return (before + time.monotonic()) / 2 if watch is None else took(before, watch)


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
    began = command(app, RECORD, status_watch(app, READY, "--until-not"))
    zv.wait_for(lambda: seconds(status(app)) >= 3, 30, what="three seconds of recording")
    stopped = command(app, RECORD, status_watch(app, READY))
    path = new_recording(t, folder, set())
    check_recording(t, path, recorded(began, stopped), "without Media Foundation")
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
    began = command(app, RECORD, status_watch(app, READY, "--until-not"))
    zv.wait_for(lambda: seconds(status(app)) >= 1, 30, what="a recording with exactly 100 MB free")
    fill_to(52 * MB)  # above what going on needs, with room for two seconds of writing
    zv.wait_for(lambda: seconds(status(app)) >= 4, 30, what="the recording to go on with 52 MB free")
    filled = fill_to(50 * MB - 4096)
    text = message_box(t, app, "filling up")  # the box's wait is bounded
    t.check(text.startswith("Recording stopped:\n") and "The disk is almost full" in text, "filling up: the message", text)
    path = new_recording(t, folder, set())
    t.check(path.name in text, "filling up: the message names the file", text)
    # The guard looks about once a second, so the recording ends within a second of the filling.
    check_recording(t, path, recorded(began, (filled, filled + 1)), "filling up")

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


def stretch(samples, start_s, end_s):
    return samples[int(start_s * 48000):int(end_s * 48000)]


def is_tone(samples):
    """Every 100 ms at the source's level (RMS 0.354, +-1 dB) and at 440 Hz (+-10, by zero crossings):
    a click, a hole or a phase jump anywhere shows as a stretch off either."""
    parts = [samples[i:i + 4800] for i in range(0, len(samples) - 4799, 4800)]
    levels = [round(math.sqrt(sum(x * x for x in p) / len(p)), 3) for p in parts]
    pitches = [sum((a < 0) != (b < 0) for a, b in zip(p, p[1:])) * 5 for p in parts]
    return bool(parts) and all(0.315 < v < 0.397 for v in levels) and all(430 <= f <= 450 for f in pitches), levels, pitches


def with_sound(t, folder):
    """A tone on, a mute stretch and a pause: AAC as long as the picture, the tone where the
    microphone was on, digital silence where it was off, the tone's start and a square turning
    white together; "System sound", which Wine cannot record, says so once; a killed recording."""
    source = zv.ToneSource()
    t.at_cleanup(source.close)
    square = tkinter.Tk(screenName=zv.env().display)
    square.overrideredirect(True), square.geometry("200x200+1600+50"), square.configure(bg="black"), square.update()
    t.at_cleanup(square.destroy)
    app, _ = start(t)
    entries = choose_sound(app, "Zentrovia test source")
    t.check(entries[0] == "No Audio" and entries[-1] == "System sound" and len(entries) >= 3,
            "the audio list: No Audio, the capture devices (the test source among them), System sound", entries)
    began = command(app, RECORD)
    time.sleep(1.5)
    square.configure(bg="white"), square.update()
    source.tone, onset = True, time.monotonic()
    spans = []  # when each command was posted: between the two instants
    for ident, wait in ((MICROPHONE, 1.5), (MICROPHONE, 1.5), (PAUSE, 1.5), (PAUSE, 1.5), (RECORD, 2)):
        time.sleep(wait)
        spans.append((time.monotonic(), command(app, ident), time.monotonic()))
    muted, unmuted, paused, resumed, stopped = spans
    path = new_recording(t, folder, set())
    posted = lambda span: (span[0], span[2])
    check_recording(t, path, recorded((began, began), posted(stopped), (posted(paused), posted(resumed))), "with sound",
                    sound=True)
    samples, sides, start_s = decoded_sound(path)
    t.check(sides < 0.01, "the mono source is on both channels alike (their difference 40 dB down)", sides)
    heard = next((i for i, x in enumerate(samples) if abs(x) > 0.1), 0) / 48000
    frames = zv.ffprobe_frames(path)
    patches = subprocess.run(["ffmpeg", "-v", "error", "-i", str(path), "-vf", "crop=20:20:1690:140", "-pix_fmt", "gray",
                              "-fps_mode", "passthrough", "-f", "rawvideo", "-"], capture_output=True, timeout=120).stdout
    white = next(i for i in range(len(frames)) if sum(patches[400 * i:400 * (i + 1)]) > 128 * 400)
    black, seen = (float(frames[i]["pts_time"]) for i in (max(white - 1, 0), white))
    print(f"sound against picture: the tone starts {1000 * (heard + start_s - seen):+.0f} ms from the white square, "
          f"whose frame came {1000 * (seen - black):.0f} ms after the last black one")
    # The square turned white between two frames; the test source reaches the capture within ~30 ms.
    t.check(black - 0.1 <= heard + start_s <= seen + 0.1, "tone and picture change land together (within 100 ms)",
            (black, heard + start_s, seen))
    # The microphone's off stretch as the sound shows it, against the clicks as the test made them (a click
    # counts from its posting to 300 ms after, for the program to take it): the first 200 ms of digital silence.
    run, off = 0, None
    for i in range(int(heard * 48000), len(samples)):
        run = run + 1 if samples[i] == 0 else 0
        if run == 9600 and off is None:
            off = [(i + 1 - run) / 48000, None]
        if off and samples[i] != 0:
            off[1] = i / 48000
            break
    off = off or [0, 0]
    def since_tone(span):  # where in the sound the program can have taken a click: (earliest, latest)
        return heard + span[0] - onset, heard + span[2] - onset + 0.3
    t.check(since_tone(muted)[0] - 0.05 <= off[0] <= since_tone(muted)[1] and
            off[1] and off[1] - off[0] >= unmuted[0] - muted[2] - 0.3 and off[1] - off[0] <= unmuted[2] - muted[0] + 0.3,
            "microphone off and on again: digital silence from the first click to the second", (off, spans, onset))
    ends = len(samples) / 48000  # the stop; the pause's cut lies between these two
    cut, resume = off[1] + paused[0] - unmuted[2] - 0.3, ends - (stopped[0] - resumed[2] - 0.3)
    t.check(max(map(abs, samples[:int((heard - 0.05) * 48000)]), default=1) == 0, "silence before the tone")
    for label, begin, end in (("on", heard, off[0]), ("on again", off[1], cut), ("resumed", resume, ends - 0.05)):
        tone = is_tone(stretch(samples, begin + 0.05, end - 0.05))
        t.check(tone[0], f"microphone {label}: the tone at its level, no click", (begin, end, tone[1:]))
    path.unlink()

    choose_sound(app, "System sound")
    began = command(app, RECORD)
    text = message_box(t, app, "System sound")
    t.check(text.startswith("Recording without sound:\n") and "cannot record what it plays" in text,
            "System sound under Wine: the recording goes on without sound and says why", text)
    stopped = command(app, RECORD)
    path = new_recording(t, folder, set())
    check_recording(t, path, stopped - began, "System sound refused")
    path.unlink()

    choose_sound(app, "Zentrovia test source")
    command(app, RECORD)

    def sound_on_disk():  # packets of sound in the fragments the growing file holds so far
        paths = list(folder.glob("Zentrovia_*.mp4"))
        probe = subprocess.run(["ffprobe", "-v", "error", "-select_streams", "a:0", "-count_packets", "-show_entries",
                                "stream=nb_read_packets", "-of", "csv=p=0", *map(str, paths[:1])],
                               capture_output=True, text=True, timeout=60).stdout.strip()
        return paths and probe.isdigit() and int(probe) >= 100  # 2.1 s
    zv.wait_for(sound_on_disk, 60, interval=0.5, what="two seconds of sound on disk")
    zv.run_driver("terminate", "--pid", app.pid)
    zv.wait_exit(app, 10)
    path = new_recording(t, folder, set())
    samples = decoded_sound(path)[0]
    t.check(len(samples) > 48000 and is_tone(stretch(samples, 0.5, len(samples) / 48000 - 0.5))[0],
            "a killed recording plays with its sound", (len(samples) / 48000, is_tone(samples[24000:-24000])[1:]))
    path.unlink()


def main(t):
    folder = zv.env().pictures_dir / "Zentrovia"
    if os.path.ismount(folder):  # left by a run that was ended before its cleanup
        subprocess.run(["umount", "-l", str(folder)], timeout=30)
    if folder.is_file():
        folder.unlink()
    for old in folder.glob("*.mp4") if folder.is_dir() else []:
        old.unlink()
    without_media_foundation(t, folder)
    folder_cannot_be_made(t, folder)
    with_sound(t, folder)
    volume_fills_up(t, folder)


zv.run_test(main)
