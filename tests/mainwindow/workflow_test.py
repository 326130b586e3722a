"""Whole recordings driven from the main window, watched on one timeline: status texts,
button pictures (handles and what is on screen), the folder box and Browse, the microphone
toggle in every state, full screen ignored while recording, the tray menu's duration line,
and then the files (named by their start time, in the folder shown, the pause left out,
the window itself visible in the decoded pictures). A second recording is stopped while
paused and starts its clock from zero."""
import dataclasses
import datetime
import tempfile
import time
from pathlib import Path

import zvtest as zv
from mainwindow import (BROWSE, FOLDER, FULL_SCREEN, MICROPHONE, PAUSE, READY, RECORD, RECORDING_TEXT, STATUS,
                        Watcher, check_recording, name_time, output_folder_of, recordings_in, remove_if_passed,
                        seconds_shown, start_zentrovia, tray_duration)
from screen import check_window_in_frame, control_shot, decoded_frame, inner, mean_brightness

BOUND_S = 10
PAUSE_HOLD_S = 3.0
AWAY_FROM_WINDOW = (900, 700)


@dataclasses.dataclass
class Run:
    """What the steps share: the window, its watcher and the pictures seen so far."""
    t: zv.Test
    app: zv.App
    win: dict
    children: dict
    watcher: Watcher
    scratch: Path
    pictures: dict = dataclasses.field(default_factory=dict)   # name -> bitmap handle
    shots: dict = dataclasses.field(default_factory=dict)      # state -> (record, pause) screen bytes

    def image(self, control_id):
        return self.watcher.latest(control_id)["image"]

    def click(self, control_id):
        """A real mouse click on a control, then the pointer leaves the window."""
        client = zv.rect(self.win["client"])
        left, top, right, bottom = zv.rect(self.children[control_id]["rect"])
        zv.mouse_click(client[0] + (left + right) // 2, client[1] + (top + bottom) // 2)
        zv.mouse_move(*AWAY_FROM_WINDOW)


def status_tick(record):
    """A status change that is only the recording clock moving on."""
    return record["kind"] == "child" and int(record["id"]) == STATUS and RECORDING_TEXT.match(record["text"])


def describe(records):
    return [(r.get("id", "window"), r.get("text"), r.get("image"), r.get("enabled")) for r in records]


def other_changes(run, start, end, clock_running):
    return [r for r in run.watcher.changes(start, end) if not (clock_running and status_tick(r))]


def status_values(run, start, end=None):
    return [seconds_shown(r["text"]) for r in run.watcher.changes(start, end)
            if r["kind"] == "child" and int(r["id"]) == STATUS]


def check_controls(run, label, record_pic, pause_pic, editable):
    t, w = run.t, run.watcher
    t.check_equal((run.image(RECORD), run.image(PAUSE)), (record_pic, pause_pic),
                  f"{label}: record and pause button pictures")
    state = "1" if editable else "0"
    t.check_equal((w.latest(FOLDER)["enabled"], w.latest(BROWSE)["enabled"]), (state, state),
                  f"{label}: folder box and Browse {'enabled' if editable else 'disabled'}")


def check_on_screen(run, state):
    """Captures the record and pause buttons: each state has its own look, and a state seen
    again looks as it did the first time (focus rectangles aside)."""
    shot = tuple(inner(control_shot(run.win, run.children[cid], run.scratch, f"{state}-{cid}"))
                 for cid in (RECORD, PAUSE))
    run.shots.setdefault(state, shot)
    first = run.shots[state]
    run.t.check(all(a.rows == b.rows for a, b in zip(shot, first)), f"{state}: buttons look as before in this state")
    others = [s for s in run.shots if s != state]
    run.t.check(all(run.shots[s][1].rows != shot[1].rows for s in others),
                f"{state}: pause button looks different from {others}")
    return shot


def check_mic_toggle(run, label, clock_running):
    """Two toggles: the microphone picture swaps and swaps back; nothing else changes."""
    t, w = run.t, run.watcher
    first = run.image(MICROPHONE)
    start, _ = w.command(MICROPHONE)
    changed = w.wait_child(MICROPHONE, lambda r: r["image"] != first, BOUND_S, f"{label}: mic picture", start)
    _, posted = w.command(MICROPHONE)
    w.wait_child(MICROPHONE, lambda r: r["image"] == first, BOUND_S, f"{label}: mic picture back", changed["_i"] + 1)
    end, _ = w.settle(posted, 600)
    expected = [{"id": str(MICROPHONE), "text": "", "image": image, "enabled": "1"}
                for image in (changed["image"], first)]
    t.check_equal(describe(other_changes(run, start, end, clock_running)), describe(expected),
                  f"{label}: mic toggle swaps only the mic picture, twice")
    t.check_equal({first, changed["image"]}, {run.pictures["mic on"], run.pictures["mic off"]},
                  f"{label}: the same two mic pictures as when ready")


def check_full_screen_ignored(run, label):
    w = run.watcher
    shown_before = seconds_shown(w.latest(STATUS)["text"])
    start, posted = w.command(FULL_SCREEN)
    end, _ = w.settle(posted, 1200)
    run.t.check_equal(describe(other_changes(run, start, end, True)), [],
                      f"{label}: full screen changes nothing but the clock")
    shown_after = seconds_shown(w.latest(STATUS)["text"])
    run.t.check(shown_after is not None and shown_after >= shown_before,
                f"{label}: status still a recording time, not set back", f"{shown_before} -> {shown_after}")


def check_browse_click_ignored(run):
    _, before = run.watcher.mark()
    run.click(BROWSE)
    run.watcher.settle(before, 1500)
    windows = zv.windows(pid=run.app.pid, visible=True)
    run.t.check_equal([w["hwnd"] for w in windows], [run.win["hwnd"]],
                      "a click on the disabled Browse opens no folder picker")


def ready(run):
    t, w = run.t, run.watcher
    t.require_equal(w.latest(STATUS)["text"], READY, "Ready: status 'Ready to Record'")
    run.pictures.update({"record": run.image(RECORD), "dimmed": run.image(PAUSE), "mic on": run.image(MICROPHONE)})
    check_controls(run, "Ready", run.pictures["record"], run.pictures["dimmed"], True)
    index, _ = w.command(MICROPHONE)
    run.pictures["mic off"] = w.wait_child(MICROPHONE, lambda r: r["image"] != run.pictures["mic on"], BOUND_S,
                                           "mic picture", index)["image"]
    index, _ = w.command(MICROPHONE)
    w.wait_child(MICROPHONE, lambda r: r["image"] == run.pictures["mic on"], BOUND_S, "mic picture back", index)
    check_mic_toggle(run, "Ready", False)
    zv.mouse_move(*AWAY_FROM_WINDOW)
    check_on_screen(run, "Ready")


def record(run):
    """Record by a real click; returns (watcher time the recording began, first status record, wall clock)."""
    t, w = run.t, run.watcher
    start, _ = w.mark()
    clicked_at = datetime.datetime.now()
    run.click(RECORD)
    first = w.wait_child(STATUS, lambda r: r["text"] != READY, BOUND_S, "status to leave Ready", start)
    t.check_equal(first["text"], "Recording: 00:00:00", "Recording: first status 'Recording: 00:00:00'")
    p = run.pictures
    p["stop"] = w.wait_child(RECORD, lambda r: r["image"] != p["record"], BOUND_S, "stop picture", start)["image"]
    began = w.latest(RECORD)["t"]
    p["pause"] = w.wait_child(PAUSE, lambda r: r["image"] != p["dimmed"], BOUND_S, "pause picture", start)["image"]
    w.wait_child(BROWSE, lambda r: r["enabled"] == "0", BOUND_S, "Browse disabled", start)
    w.wait_child(FOLDER, lambda r: r["enabled"] == "0", BOUND_S, "folder box disabled", start)
    check_controls(run, "Recording", p["stop"], p["pause"], False)
    t.check(len({p["record"], p["stop"], p["pause"], p["dimmed"]}) == 4, "record, stop, pause and dimmed pause differ")
    return began, first, clicked_at


def while_recording(run, first):
    t, w = run.t, run.watcher
    three = w.wait_status("Recording: 00:00:03", BOUND_S + 3, first["_i"])
    t.check_equal(status_values(run, first["_i"], three["_i"] + 1), [0, 1, 2, 3],
                  "Recording: the clock counts 00, 01, 02, 03 without a gap")
    t.check(abs((three["t"] - first["t"]) / 1000 - 3) <= 1.0,
            "Recording: 00:00:03 shows about three seconds after 00:00:00", f"{three['t'] - first['t']} ms")
    recording_look = check_on_screen(run, "Recording")
    ready_look = run.shots["Ready"]
    t.check(mean_brightness(ready_look[1]) < mean_brightness(recording_look[1]) - 10,
            "Ready's pause picture is dimmer than Recording's",
            f"{mean_brightness(ready_look[1]):.1f} vs {mean_brightness(recording_look[1]):.1f}")

    check_mic_toggle(run, "Recording", True)
    check_full_screen_ignored(run, "Recording")
    check_browse_click_ignored(run)

    duration = tray_duration(t, w)
    shown = seconds_shown(w.latest(STATUS)["text"])
    t.check(abs(duration - shown) <= 1, "Recording: tray duration matches the status", f"{duration} vs {shown}")
    index, _ = w.mark()
    w.wait_child(STATUS, status_tick, BOUND_S, "the clock to move", index)
    later = tray_duration(t, w)
    t.check(later > duration, "Recording: the tray duration moves on", f"{duration} -> {later}")


def pause(run, first):
    """Pause by BM_CLICK and hold; returns (watcher time of the pause, frozen seconds, index at the end of the hold)."""
    t, w, p = run.t, run.watcher, run.pictures
    index, paused_at = w.bm_click(PAUSE)
    p["resume"] = w.wait_child(PAUSE, lambda r: r["image"] != p["pause"], BOUND_S, "resume picture", index)["image"]
    check_controls(run, "Paused", p["stop"], p["resume"], False)
    t.check(p["resume"] not in (p["pause"], p["dimmed"]), "Paused: resume picture differs from pause and dimmed")
    hold_until = time.monotonic() + PAUSE_HOLD_S
    tray_first = tray_duration(t, w)
    check_mic_toggle(run, "Paused", False)
    check_full_screen_ignored(run, "Paused")
    check_on_screen(run, "Paused")
    tray_later = tray_duration(t, w)
    time.sleep(max(0.0, hold_until - time.monotonic()))
    end, held_until = w.mark()
    frozen = seconds_shown(w.latest(STATUS)["text"])
    ticks = [r for r in w.changes(index, end) if status_tick(r)]
    last_change = max([r["t"] for r in ticks] + [paused_at])
    t.check(len(ticks) <= 1, "Paused: the status changes at most once, at the pause", describe(ticks))
    t.check(held_until - last_change >= 2000, "Paused: status stands still for at least 2 s",
            f"last change at {last_change}, pause at {paused_at}, now {held_until}")
    elapsed = (paused_at - first["t"]) / 1000
    t.check(elapsed - 1 <= frozen <= elapsed + 1, "Paused: the frozen time is the time recorded before the pause",
            f"{frozen} s shown, {elapsed:.2f} s since 00:00:00")
    t.check_equal((tray_first, tray_later), (frozen, frozen), "Paused: tray duration stands at the status")
    return paused_at, frozen, end


def resume(run, frozen, since):
    """Resume by a real click; returns the watcher time the pause ended."""
    t, w, p = run.t, run.watcher, run.pictures
    run.click(PAUSE)
    resumed = w.wait_child(PAUSE, lambda r: r["image"] == p["pause"], BOUND_S, "pause picture back", since)
    after = w.wait_status(f"Recording: 00:00:{frozen + 2:02d}", BOUND_S + 2, since)
    values = status_values(run, since, after["_i"] + 1)
    t.check(values in ([frozen + 1, frozen + 2], [frozen, frozen + 1, frozen + 2]),
            "Resumed: the clock continues from the frozen value, the pause not counted",
            f"frozen {frozen}, then {values}")
    check_controls(run, "Resumed", p["stop"], p["pause"], False)
    check_on_screen(run, "Recording")
    return resumed["t"]


def stop(run, label, how):
    """Stop with the record command; returns the watcher time of the stop."""
    t, w, p = run.t, run.watcher, run.pictures
    last_shown = seconds_shown(w.latest(STATUS)["text"])
    index, stopped_at = how()
    w.wait_status(READY, 30, index)
    t.check(True, f"{label}: status back to 'Ready to Record'")
    w.wait_child(BROWSE, lambda r: r["enabled"] == "1", BOUND_S, "Browse enabled", index)
    w.wait_child(FOLDER, lambda r: r["enabled"] == "1", BOUND_S, "folder box enabled", index)
    w.wait_child(PAUSE, lambda r: r["image"] == p["dimmed"], BOUND_S, "dimmed pause", index)
    w.wait_child(RECORD, lambda r: r["image"] == p["record"], BOUND_S, "record picture", index)
    check_controls(run, label, p["record"], p["dimmed"], True)
    check_on_screen(run, "Ready")
    final_tray = tray_duration(t, w)
    t.check(final_tray in (last_shown, last_shown + 1), f"{label}: tray duration keeps its last value",
            f"{final_tray} after the last status {last_shown}")
    return stopped_at


def the_new_file(run, folder, earlier, clicked_at, label):
    new = sorted(recordings_in(folder) - earlier)
    run.t.require(len(new) == 1, f"{label}: one new recording in the folder shown ({folder})", str(new))
    named = name_time(new[0])
    run.t.check(clicked_at - datetime.timedelta(seconds=3) <= named <= clicked_at + datetime.timedelta(seconds=3),
                f"{label}: file named by the local start time", f"{new[0]} vs click at {clicked_at:%H:%M:%S}")
    return folder / new[0]


def main(t):
    scratch = Path(tempfile.mkdtemp(prefix="zv-workflow-"))
    app, win = start_zentrovia(t)
    hwnd = win["hwnd"]
    children = {int(r["id"]): r for r in zv.run_driver("children", "--hwnd", hwnd) if r["id"] != "0"}
    folder = output_folder_of(hwnd)
    earlier = before_test = recordings_in(folder)
    run = Run(t, app, win, children, Watcher(t, hwnd), scratch)

    ready(run)
    began, first, clicked_at = record(run)
    while_recording(run, first)
    paused_at, frozen, hold_end = pause(run, first)
    resumed_at = resume(run, frozen, hold_end)
    stopped_at = stop(run, "Stopped", lambda: run.watcher.command(RECORD))
    check_mic_toggle(run, "Stopped", False)

    path = the_new_file(run, folder, earlier, clicked_at, "first recording")
    recorded_s = (stopped_at - began - (resumed_at - paused_at)) / 1000
    print(f"recorded {recorded_s:.2f} s, paused {(resumed_at - paused_at) / 1000:.2f} s", flush=True)
    check_recording(t, path, recorded_s, 1.0, "first recording")
    check_window_in_frame(t, decoded_frame(path, 1.5), win, zv.rect(children[STATUS]["rect"]), "first recording")

    # A second recording: the clock starts again from zero; stopped while paused.
    earlier = recordings_in(folder)
    began, first, clicked_at = record(run)
    w = run.watcher
    w.wait_status("Recording: 00:00:02", BOUND_S + 2, first["_i"])
    index, paused_at = w.command(PAUSE)
    w.wait_child(PAUSE, lambda r: r["image"] == run.pictures["resume"], BOUND_S, "resume picture", index)
    w.settle(paused_at, 1500)
    stop(run, "Stopped while paused", lambda: w.command(RECORD))
    path = the_new_file(run, folder, earlier, clicked_at, "second recording")
    check_recording(t, path, (paused_at - began) / 1000, 0.8, "second recording, stopped while paused")

    zv.run_driver("post", "--hwnd", hwnd, "--msg", zv.WM_CLOSE)
    t.check_equal(zv.wait_exit(app, 20), 0, "program ends with 0")
    remove_if_passed(t, folder, before_test)


zv.run_test(main)
