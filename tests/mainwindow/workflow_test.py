"""A whole recording driven from the main window, watched on one timeline: status texts,
button pictures, the folder box and Browse, the microphone toggle in every state, full
screen ignored while recording, the tray menu's duration line, and then the file itself
(named by its start time, in the folder shown, with the pause left out)."""
import datetime
import time

import zvtest as zv
from mainwindow import (BROWSE, FOLDER, FULL_SCREEN, MICROPHONE, PAUSE, READY, RECORD, RECORDING_TEXT, STATUS,
                        Watcher, check_recording, name_time, output_folder_of, recordings_in, remove_if_passed,
                        seconds_shown, start_zentrovia, tray_duration)

BOUND_S = 10
PAUSE_HOLD_S = 3.0


def image(watcher, control_id, before=None):
    return watcher.latest(control_id, before)["image"]


def status_tick(record):
    """A status change that is only the recording clock moving on."""
    return record["kind"] == "child" and int(record["id"]) == STATUS and RECORDING_TEXT.match(record["text"])


def other_changes(watcher, start, end, clock_running):
    return [r for r in watcher.changes(start, end) if not (clock_running and status_tick(r))]


def describe(records):
    return [(r.get("id", "window"), r.get("text"), r.get("image"), r.get("enabled")) for r in records]


def screen_centre(win, child):
    client = zv.rect(win["client"])
    left, top, right, bottom = zv.rect(child["rect"])
    return client[0] + (left + right) // 2, client[1] + (top + bottom) // 2


def check_controls(t, watcher, label, record_pic, pause_pic, editable):
    t.check_equal(image(watcher, RECORD), record_pic, f"{label}: record button picture")
    t.check_equal(image(watcher, PAUSE), pause_pic, f"{label}: pause button picture")
    state = "1" if editable else "0"
    t.check_equal((watcher.latest(FOLDER)["enabled"], watcher.latest(BROWSE)["enabled"]), (state, state),
                  f"{label}: folder box and Browse {'enabled' if editable else 'disabled'}")


def check_mic_toggle(t, watcher, label, mic_pictures, clock_running):
    """Two toggles: the microphone picture swaps and swaps back; nothing else changes."""
    first = image(watcher, MICROPHONE)
    start, _ = watcher.command(MICROPHONE)
    changed = watcher.wait_child(MICROPHONE, lambda r: r["image"] != first, BOUND_S, f"{label}: mic picture", start)
    _, posted = watcher.command(MICROPHONE)
    watcher.wait_child(MICROPHONE, lambda r: r["image"] == first, BOUND_S, f"{label}: mic picture back",
                       changed["_i"] + 1)
    end, _ = watcher.settle(posted, 600)
    t.check_equal(describe(other_changes(watcher, start, end, clock_running)),
                  describe([{"id": str(MICROPHONE), "text": "", "image": changed["image"], "enabled": "1"},
                            {"id": str(MICROPHONE), "text": "", "image": first, "enabled": "1"}]),
                  f"{label}: mic toggle swaps only the mic picture, twice")
    t.check_equal({first, changed["image"]}, mic_pictures, f"{label}: the same two mic pictures as when ready")


def check_full_screen_ignored(t, watcher, label):
    shown_before = seconds_shown(watcher.latest(STATUS)["text"])
    start, posted = watcher.command(FULL_SCREEN)
    end, _ = watcher.settle(posted, 1200)
    t.check_equal(describe(other_changes(watcher, start, end, True)), [],
                  f"{label}: full screen changes nothing but the clock")
    shown_after = seconds_shown(watcher.latest(STATUS)["text"])
    t.check(shown_after is not None and shown_after >= shown_before,
            f"{label}: status still a recording time, not set back", f"{shown_before} -> {shown_after}")


def status_values(watcher, start, end=None):
    return [seconds_shown(r["text"]) for r in watcher.changes(start, end)
            if r["kind"] == "child" and int(r["id"]) == STATUS]


def wait_shown(watcher, seconds, start):
    text = f"Recording: 00:00:{seconds:02d}"
    return watcher.wait_status(text, BOUND_S + seconds, start)


def check_browse_click_ignored(t, watcher, win, children, pid):
    start, _ = watcher.mark()
    zv.mouse_click(*screen_centre(win, children[BROWSE]))
    _, clicked = watcher.mark()
    watcher.settle(clicked, 1500)
    windows = zv.windows(pid=pid, visible=True)
    t.check_equal([w["hwnd"] for w in windows], [win["hwnd"]], "a click on the disabled Browse opens no folder picker")


def main(t):
    app, win = start_zentrovia(t)
    hwnd = win["hwnd"]
    children = {int(r["id"]): r for r in zv.run_driver("children", "--hwnd", hwnd) if r["id"] != "0"}
    folder = output_folder_of(hwnd)
    earlier = recordings_in(folder)
    watcher = Watcher(t, hwnd)

    # --- Ready
    t.require_equal(watcher.latest(STATUS)["text"], READY, "Ready: status 'Ready to Record'")
    record_pic, dimmed_pic = image(watcher, RECORD), image(watcher, PAUSE)
    check_controls(t, watcher, "Ready", record_pic, dimmed_pic, True)
    mic_on = image(watcher, MICROPHONE)
    index, _ = watcher.command(MICROPHONE)
    mic_off = watcher.wait_child(MICROPHONE, lambda r: r["image"] != mic_on, BOUND_S, "mic picture", index)["image"]
    index, _ = watcher.command(MICROPHONE)
    watcher.wait_child(MICROPHONE, lambda r: r["image"] == mic_on, BOUND_S, "mic picture back", index)
    mic_pictures = {mic_on, mic_off}
    check_mic_toggle(t, watcher, "Ready", mic_pictures, False)

    # --- Record, by a real click on the record button
    start_index, _ = watcher.mark()
    clicked_at = datetime.datetime.now()
    zv.mouse_click(*screen_centre(win, children[RECORD]))
    first = watcher.wait_child(STATUS, lambda r: r["text"] != READY, BOUND_S, "status to leave Ready", start_index)
    started_at = datetime.datetime.now()
    t.check_equal(first["text"], "Recording: 00:00:00", "Recording: first status 'Recording: 00:00:00'")
    stop_pic = watcher.wait_child(RECORD, lambda r: r["image"] != record_pic, BOUND_S, "stop picture",
                                  start_index)["image"]
    began = watcher.latest(RECORD)["t"]
    pause_pic = watcher.wait_child(PAUSE, lambda r: r["image"] != dimmed_pic, BOUND_S, "pause picture",
                                   start_index)["image"]
    watcher.wait_child(BROWSE, lambda r: r["enabled"] == "0", BOUND_S, "Browse disabled", start_index)
    watcher.wait_child(FOLDER, lambda r: r["enabled"] == "0", BOUND_S, "folder box disabled", start_index)
    check_controls(t, watcher, "Recording", stop_pic, pause_pic, False)
    t.check(len({record_pic, stop_pic, pause_pic, dimmed_pic}) == 4, "record, stop, pause and dimmed pause differ")

    three = wait_shown(watcher, 3, start_index)
    t.check_equal(status_values(watcher, first["_i"], three["_i"] + 1), [0, 1, 2, 3],
                  "Recording: the clock counts 00, 01, 02, 03 without a gap")
    t.check(abs((three["t"] - first["t"]) / 1000 - 3) <= 1.0,
            "Recording: 00:00:03 shows about three seconds after 00:00:00", f"{three['t'] - first['t']} ms")

    check_mic_toggle(t, watcher, "Recording", mic_pictures, True)
    check_full_screen_ignored(t, watcher, "Recording")
    check_browse_click_ignored(t, watcher, win, children, app.pid)

    duration = tray_duration(t, watcher)
    shown = seconds_shown(watcher.latest(STATUS)["text"])
    t.check(abs(duration - shown) <= 1, "Recording: tray duration matches the status", f"{duration} vs {shown}")
    mark_index, _ = watcher.mark()
    watcher.wait_child(STATUS, status_tick, BOUND_S, "the clock to move", mark_index)
    later = tray_duration(t, watcher)
    t.check(later > duration, "Recording: the tray duration moves on", f"{duration} -> {later}")

    # --- Pause, by BM_CLICK
    pause_index, paused_t = watcher.bm_click(PAUSE)
    resume_pic = watcher.wait_child(PAUSE, lambda r: r["image"] != pause_pic, BOUND_S, "resume picture",
                                    pause_index)["image"]
    check_controls(t, watcher, "Paused", stop_pic, resume_pic, False)
    t.check(resume_pic not in (pause_pic, dimmed_pic), "Paused: resume picture differs from pause and dimmed")
    hold_until = time.monotonic() + PAUSE_HOLD_S
    frozen = seconds_shown(watcher.latest(STATUS)["text"])
    tray_paused = tray_duration(t, watcher)
    check_mic_toggle(t, watcher, "Paused", mic_pictures, False)
    check_full_screen_ignored(t, watcher, "Paused")
    tray_paused_later = tray_duration(t, watcher)
    time.sleep(max(0.0, hold_until - time.monotonic()))
    resume_index, _ = watcher.mark()
    frozen = seconds_shown(watcher.latest(STATUS)["text"])
    ticks = [r for r in watcher.changes(pause_index, resume_index) if status_tick(r)]
    last_change = ticks[-1]["t"] if ticks else paused_t
    t.check(len(ticks) <= 1, "Paused: the status changes at most once, at the pause", describe(ticks))
    t.check(watcher.records[resume_index]["t"] - max(last_change, paused_t) >= 2000,
            "Paused: status stands still for at least 2 s", f"last change at {last_change}, pause at {paused_t}")
    t.check_equal((tray_paused, tray_paused_later), (frozen, frozen), "Paused: tray duration stands at the status")

    # --- Resume, by a real click on the pause button
    zv.mouse_click(*screen_centre(win, children[PAUSE]))
    resumed = watcher.wait_child(PAUSE, lambda r: r["image"] == pause_pic, BOUND_S, "pause picture back", resume_index)
    pause_ms = resumed["t"] - paused_t
    after = wait_shown(watcher, frozen + 2, resume_index)
    values = status_values(watcher, resume_index, after["_i"] + 1)
    t.check(values in ([frozen + 1, frozen + 2], [frozen, frozen + 1, frozen + 2]),
            "Resumed: the clock continues from the frozen value, the pause not counted",
            f"frozen {frozen}, then {values}")
    check_controls(t, watcher, "Resumed", stop_pic, pause_pic, False)

    # --- Stop, by WM_COMMAND
    last_shown = seconds_shown(watcher.latest(STATUS)["text"])
    stop_index, stopped_t = watcher.command(RECORD)
    watcher.wait_status(READY, 30, stop_index)
    watcher.wait_child(BROWSE, lambda r: r["enabled"] == "1", BOUND_S, "Browse enabled", stop_index)
    watcher.wait_child(FOLDER, lambda r: r["enabled"] == "1", BOUND_S, "folder box enabled", stop_index)
    watcher.wait_child(PAUSE, lambda r: r["image"] == dimmed_pic, BOUND_S, "dimmed pause", stop_index)
    watcher.wait_child(RECORD, lambda r: r["image"] == record_pic, BOUND_S, "record picture", stop_index)
    check_controls(t, watcher, "Stopped", record_pic, dimmed_pic, True)
    t.check(True, "Stopped: status 'Ready to Record'")
    final_tray = tray_duration(t, watcher)
    t.check(final_tray in (last_shown, last_shown + 1), "Stopped: tray duration keeps its last value",
            f"{final_tray} after the last status {last_shown}")
    check_mic_toggle(t, watcher, "Stopped", mic_pictures, False)

    # --- The file
    new = sorted(recordings_in(folder) - earlier)
    t.require_equal(len(new), 1, f"one new recording in the folder shown ({folder})")
    named = name_time(new[0])
    t.check(clicked_at - datetime.timedelta(seconds=3) <= named <= started_at + datetime.timedelta(seconds=3),
            "file named by the local start time", f"{new[0]} vs click at {clicked_at:%H:%M:%S}")
    recorded_s = (stopped_t - began - pause_ms) / 1000
    print(f"recorded {recorded_s:.2f} s, paused {pause_ms / 1000:.2f} s", flush=True)
    check_recording(t, folder / new[0], recorded_s, 1.0, "recording")

    zv.run_driver("post", "--hwnd", hwnd, "--msg", zv.WM_CLOSE)
    t.check_equal(zv.wait_exit(app, 20), 0, "program ends with 0")
    remove_if_passed(t, folder, earlier)


zv.run_test(main)
