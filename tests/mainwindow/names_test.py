"""Recordings never replace each other: a second recording started within the same second
as the first gets "_2" before ".mp4", and the first file stays as it was; a burst of
recordings leaves one file each."""
import datetime
import hashlib
import time

import zvtest as zv
from mainwindow import (READY, RECORD, RECORDING_TEXT, STATUS, Watcher, name_time, output_folder_of, recordings_in,
                        remove_if_passed, start_zentrovia)

BOUND_S = 20
PLACEHOLDER_SPAN_S = 30


def digest(path):
    return hashlib.sha256(path.read_bytes()).hexdigest()


def stem_of(name):
    return name[:-len(".mp4")]


def check_playable(t, path, label):
    probe = zv.ffprobe_json(path)
    t.check_equal([s.get("codec_name") for s in probe.get("streams", [])], ["h264"],
                  f"{label}: a finalized MP4 with one H.264 stream")


def wait_second_start():
    """Returns just after the wall clock passes a whole second, so quick steps share it."""
    fraction = time.time() % 1
    time.sleep(1 - fraction + 0.02)


def check_quick_pair(t, watcher, folder):
    """Record, stop, record, stop posted back to back: two files, the later one never over the first."""
    earlier = recordings_in(folder)
    wait_second_start()
    start, _ = watcher.command(RECORD)
    watcher.command(RECORD)
    watcher.command(RECORD)
    last, _ = watcher.command(RECORD)
    watcher.wait_status(READY, BOUND_S, last)
    zv.wait_for(lambda: watcher.latest(STATUS)["text"] == READY and len(recordings_in(folder) - earlier) >= 2,
                BOUND_S, what="two recordings after the quick pair")
    statuses = [r["text"] for r in watcher.changes(start) if r["kind"] == "child" and int(r["id"]) == STATUS]
    t.check(statuses.count(READY) >= 2 and any(RECORDING_TEXT.match(s) for s in statuses),
            "quick pair: the window went through Recording and back to Ready twice", str(statuses))
    new = sorted(recordings_in(folder) - earlier)
    t.require(len(new) == 2, "quick pair: two new files", str(new))
    first, second = sorted(new, key=lambda n: (name_time(n), n))
    if name_time(first) == name_time(second):
        print(f"quick pair started within one second: {first}, {second}", flush=True)
        t.check_equal(second, stem_of(first) + "_2.mp4", "same second: the second file has the _2 suffix")
    else:
        print(f"quick pair crossed a second: {first}, {second}", flush=True)
        t.check(plain_name(first) and plain_name(second), "different seconds: both files have plain names",
                f"{first}, {second}")
    for name in (first, second):
        check_playable(t, folder / name, f"quick pair {name}")
    return folder / first


def plain_name(name):
    return name.count("_") == 2


def check_forced_collision(t, watcher, folder, source):
    """Every name the next recording could take already exists (copies of a real recording)."""
    content = source.read_bytes()
    # Past the quick pair's second, whose names are taken already.
    while datetime.datetime.now().replace(microsecond=0) <= name_time(source.name):
        wait_second_start()
    now = datetime.datetime.now().replace(microsecond=0)
    placeholders = {}
    for offset in range(-2, PLACEHOLDER_SPAN_S):
        moment = now + datetime.timedelta(seconds=offset)
        path = folder / f"Zentrovia_{moment:%Y%m%d_%H%M%S}.mp4"
        if not path.exists():
            path.write_bytes(content)
            placeholders[path.name] = path
            t.at_cleanup(lambda p=path: p.unlink(missing_ok=True))
    expected_digest = hashlib.sha256(content).hexdigest()
    earlier = recordings_in(folder)

    start, _ = watcher.command(RECORD)
    watcher.wait_child(STATUS, lambda r: r["text"] == "Recording: 00:00:01", BOUND_S, "a second of recording", start)
    stop, _ = watcher.command(RECORD)
    watcher.wait_status(READY, BOUND_S, stop)
    new = sorted(recordings_in(folder) - earlier)
    t.require(len(new) == 1, "forced collision: one new file", str(new))
    t.check(new[0].endswith("_2.mp4") and stem_of(new[0])[:-2] + ".mp4" in placeholders,
            "forced collision: the new file is <existing name>_2.mp4", new[0])
    untouched = [name for name, path in placeholders.items() if digest(path) == expected_digest]
    t.check_equal(sorted(untouched), sorted(placeholders), "forced collision: every existing file is unchanged")
    check_playable(t, folder / new[0], "forced collision: new file")
    for path in placeholders.values():
        path.unlink()


def check_burst(t, watcher, folder, count=5):
    """Several recordings started and stopped back to back: as many files, none replaced."""
    earlier = recordings_in(folder)
    wait_second_start()
    for _ in range(2 * count - 1):
        watcher.command(RECORD)
    last, _ = watcher.command(RECORD)
    watcher.wait_status(READY, BOUND_S, last)
    zv.wait_for(lambda: len(recordings_in(folder) - earlier) >= count, BOUND_S, what=f"{count} recordings")
    new = sorted(recordings_in(folder) - earlier)
    print(f"burst: {new}", flush=True)
    t.check_equal(len(new), count, f"burst: {count} start/stop pairs leave {count} files")
    by_second = {}
    for name in new:
        by_second.setdefault(name_time(name), []).append(name)
    for second, names in by_second.items():
        stem = f"Zentrovia_{second:%Y%m%d_%H%M%S}"
        expected = [f"{stem}.mp4"] + [f"{stem}_{n}.mp4" for n in range(2, len(names) + 1)]
        t.check_equal(sorted(names), sorted(expected), f"burst: names within {second:%H:%M:%S} count up from _2")
    for name in new:
        check_playable(t, folder / name, f"burst {name}")


def main(t):
    app, win = start_zentrovia(t)
    watcher = Watcher(t, win["hwnd"])
    folder = output_folder_of(win["hwnd"])
    earlier = recordings_in(folder)
    first = check_quick_pair(t, watcher, folder)
    check_forced_collision(t, watcher, folder, first)
    check_burst(t, watcher, folder)
    zv.run_driver("post", "--hwnd", win["hwnd"], "--msg", zv.WM_CLOSE)
    t.check_equal(zv.wait_exit(app, 20), 0, "program ends with 0")
    remove_if_passed(t, folder, earlier)


zv.run_test(main)
