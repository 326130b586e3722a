"""Leaving the program while it records: File > Exit during a recording and the tray menu's
Exit during a pause both end the process with 0 and leave a finalized MP4 holding the time
recorded (the pause left out)."""
import zvtest as zv
from mainwindow import (EXIT, PAUSE, READY, RECORD, STATUS, TRAY_EXIT, WM_RBUTTONUP, WM_TRAYICON, Watcher,
                        check_recording, close_popup, recordings_in, remove_if_passed,
                        start_zentrovia)

BOUND_S = 15


def start_recording(t, watcher, label):
    """Record from Ready; returns the watcher time the recording began."""
    t.require_equal(watcher.latest(STATUS)["text"], READY, f"{label}: starts Ready")
    ready_picture = watcher.latest(RECORD)["image"]
    start, _ = watcher.command(RECORD)
    began = watcher.wait_child(RECORD, lambda r: r["image"] != ready_picture, BOUND_S, "stop picture", start)["t"]
    watcher.wait_status("Recording: 00:00:02", BOUND_S, start)
    return began


def wait_gone(t, app, watcher, since, label):
    watcher.wait_window(lambda r: r["exists"] == "0", 30, f"{label}: main window destroyed", since)
    t.check_equal(zv.wait_exit(app, 30), 0, f"{label}: the process ends with exit code 0")


def the_new_recording(t, folder, earlier, label):
    new = sorted(recordings_in(folder) - earlier)
    t.require(len(new) == 1, f"{label}: one new recording", str(new))
    return folder / new[0]


def exit_from_file_menu(t, folder):
    earlier = recordings_in(folder)
    app, win = start_zentrovia(t)
    watcher = Watcher(t, win["hwnd"])
    began = start_recording(t, watcher, "File > Exit")
    index, exited = watcher.command(EXIT)
    wait_gone(t, app, watcher, index, "File > Exit while recording")
    path = the_new_recording(t, folder, earlier, "File > Exit")
    # The recording ends at the Exit: anything longer was captured while the window was torn down.
    check_recording(t, path, (exited - began) / 1000, 0.8, "File > Exit while recording")
    return earlier


def exit_from_tray_while_paused(t, folder):
    earlier = recordings_in(folder)
    app, win = start_zentrovia(t)
    watcher = Watcher(t, win["hwnd"])
    began = start_recording(t, watcher, "tray Exit")
    recording_picture = watcher.latest(PAUSE)["image"]
    index, paused = watcher.command(PAUSE)
    watcher.wait_child(PAUSE, lambda r: r["image"] != recording_picture, BOUND_S, "resume picture", index)
    _, held = watcher.settle(paused, 1500)

    # The tray menu itself, its last item chosen from the keyboard.
    index, _ = watcher.post(WM_TRAYICON, 0, WM_RBUTTONUP)
    items = zv.run_driver("popup-menu", "--timeout-ms", 5000)[1:]
    exit_item = items[-1] if items else {}
    if (exit_item.get("text"), exit_item.get("id")) != ("Exit", str(TRAY_EXIT)):
        close_popup(watcher)
        t.require(False, "tray menu ends with Exit (2003)", str(items))
    zv.key("Up", "Return")
    wait_gone(t, app, watcher, index, "tray Exit while paused")
    path = the_new_recording(t, folder, earlier, "tray Exit")
    check_recording(t, path, (paused - began) / 1000, 0.8, "tray Exit while paused")
    print(f"paused for {(held - paused) / 1000:.1f} s before the exit", flush=True)


def main(t):
    folder = zv.env().pictures_dir / "Zentrovia"
    earlier = exit_from_file_menu(t, folder)
    exit_from_tray_while_paused(t, folder)
    remove_if_passed(t, folder, earlier)


zv.run_test(main)
