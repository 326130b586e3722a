"""The CPU that sound adds to a recording: the real Zentrovia.exe records the screen (a box moving,
started by recorder.sh) for SECONDS with "No Audio", then with the session's test source playing a
tone; CPU of the Zentrovia.exe process in each, side by side. Run by bench/recorder.sh in its session.
    python3 bench/recorder_sound.py SECONDS"""
import os
import sys
import time
from pathlib import Path

import zvtest as zv
from zentrovia import RECORD, choose_sound, start


def linux_process(prefix):
    """The Linux process of Zentrovia.exe in this session's prefix (Wine names it after the program)."""
    for proc in Path("/proc").iterdir():
        try:
            if (proc / "comm").read_text().strip() == "Zentrovia.exe" and \
                    f"WINEPREFIX={prefix}".encode() in (proc / "environ").read_bytes().split(b"\0"):
                return proc
        except OSError:
            continue
    raise SystemExit("no Zentrovia.exe process")


def cpu_while_recording(app, proc, seconds):
    """Share of one core the process used while a recording ran for `seconds`."""
    ticks = lambda: sum(int(v) for v in (proc / "stat").read_text().rsplit(")", 1)[1].split()[11:13])
    zv.run_driver("command", "--hwnd", app.hwnd, "--id", RECORD)
    began, used = time.monotonic(), ticks()
    time.sleep(seconds)
    share = (ticks() - used) / os.sysconf("SC_CLK_TCK") / (time.monotonic() - began)
    zv.run_driver("command", "--hwnd", app.hwnd, "--id", RECORD)
    time.sleep(3)  # the recording is finalized
    return share


def main(t):
    seconds = float(sys.argv[1])
    source = zv.ToneSource()
    t.at_cleanup(source.close)
    app, _ = start(t)
    proc = linux_process(zv.env().session_env["WINEPREFIX"])
    silent = cpu_while_recording(app, proc, seconds)
    choose_sound(app, "Zentrovia test source")
    source.tone = True
    with_sound = cpu_while_recording(app, proc, seconds)
    print(f"{'Zentrovia.exe, No Audio':<44} {100 * silent:9.0f} %")
    print(f"{'Zentrovia.exe, a 48 kHz tone as sound':<44} {100 * with_sound:9.0f} %   (+{100 * (with_sound - silent):.0f} %)")
    t.check(silent > 0 and with_sound > 0, "both recordings were measured", (silent, with_sound))


zv.run_test(main)
