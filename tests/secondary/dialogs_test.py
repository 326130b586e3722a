"""Journeys of the main window's secondary windows: About (menu and Alt+? / Alt+/), the settings
round trip, and the webcam button with no camera attached."""
import datetime

import zvtest as zv
from zentrovia import controls, main_window, rect, start

ABOUT, SETTINGS, WEBCAM = 104, 32773, 1013
CB_GETCURSEL, CB_SETCURSEL, BM_GETIMAGE = 0x0147, 0x014E, 0x00F6
WEBCAM_WARNING = "Unable to open webcam.\nPlease check camera access in\nWindows Settings \u2192 Privacy \u2192 Camera."
SEGOE = "Segoe UI"


def centred_on(t, win, main, size, what):
    left, top, right, bottom = rect(win["rect"])
    m = rect(main["rect"])
    t.check_equal((right - left, bottom - top), size, f"{what}: outer size")
    t.check(abs((left + right) - (m[0] + m[2])) <= 1 and abs((top + bottom) - (m[1] + m[3])) <= 1,
            f"{what}: centred on the main window", (win["rect"], main["rect"]))
    t.check(int(win["exstyle"], 16) & 0x8, f"{what}: topmost")


def children(hwnd):
    return [(r["class"], r["text"], rect(r["rect"]), r["font"]) for r in zv.run_driver("children", "--hwnd", hwnd)]


def open_about(app, how):
    if how == "menu":
        zv.run_driver("command", "--hwnd", app.hwnd, "--id", ABOUT)
    else:
        client = rect(zv.find_window(title="zentrovia", pid=app.pid)["client"])
        zv.mouse_click(client[0] + 10, client[3] - 10)  # an empty spot: the main window takes the keys
        zv.key(how)
    return zv.find_window(title="About Zentrovia", pid=app.pid)


def close(win, button_id=None):
    """Closes the window with one of its buttons, or as its close box does."""
    zv.run_driver(*("command", "--hwnd", win["hwnd"], "--id", button_id) if button_id else
                  ("close", "--hwnd", win["hwnd"]))
    zv.run_driver("wait-gone", "--hwnd", win["hwnd"])


def check_about(t, app):
    about = open_about(app, "menu")
    centred_on(t, about, main_window(app), (340, 180), "About")
    lines = [(text, rect[1], font.split(",")) for _, text, rect, font in children(about["hwnd"])]
    t.check_equal([(text, y, f[0], int(f[1]), int(f[2])) for text, y, f in lines[:3]],
                  [("Zentrovia", 20, SEGOE, 24, 700), ("Version 1.0.0", 58, SEGOE, 14, 600),
                   ("Screen Recorder for Windows", 84, SEGOE, 14, 400)], "About: name, version and description")
    t.check(len(lines) == 5 and str(datetime.date.today().year) in lines[4][0], "About: the last line shows the year",
            lines[-1:])
    first = [(c[1], c[3]) for c in children(about["hwnd"])]
    close(about)
    for keys in ("alt+question", "alt+slash"):
        again = open_about(app, keys)
        t.check(again["hwnd"] != about["hwnd"] and [(c[1], c[3]) for c in children(again["hwnd"])] == first,
                f"{keys} opens the About window again, with the same texts and fonts")
        close(again)


def open_settings(app):
    zv.run_driver("command", "--hwnd", app.hwnd, "--id", SETTINGS)
    win = zv.find_window(title="General Settings", pid=app.pid)
    lists = {int(r["id"]): r["hwnd"] for r in zv.run_driver("children", "--hwnd", win["hwnd"]) if r["class"] == "ComboBox"}
    chosen = [int(zv.run_driver("send", "--hwnd", lists[i], "--msg", CB_GETCURSEL)[0]["result"]) for i in (30, 31, 32)]
    return win, lists, chosen


def check_settings(t, app):
    win, lists, chosen = open_settings(app)
    centred_on(t, win, main_window(app), (460, 390), "settings")
    t.check_equal(chosen, [0, 0, 0], "first opening: 1080p, No Audio, Top-Left")
    texts = [(cls, text, rect[:2], font) for cls, text, rect, font in children(win["hwnd"]) if cls != "ComboBox"]
    t.check_equal(texts, [("Static", "\u2699  General Settings", (0, 14), f"{SEGOE},16,600"),
                          ("Static", "Recording Resolution", (24, 80), f"{SEGOE},14,400"),
                          ("Static", "Audio Device", (24, 138), f"{SEGOE},14,400"),
                          ("Static", "Webcam Position", (24, 196), f"{SEGOE},14,400"),
                          ("Button", "Close", (196, 262), f"{SEGOE},14,400"),
                          ("Button", "Apply Settings", (304, 262), f"{SEGOE},16,600")], "settings: texts, places, fonts")
    zv.run_driver("command", "--hwnd", app.hwnd, "--id", SETTINGS)  # a second opening raises the first
    t.check_equal([w["hwnd"] for w in zv.windows(title="General Settings", visible=True)], [win["hwnd"]],
                  "a second General Settings... keeps one window")
    # Close forgets 4K and Bottom-Right, Apply keeps them, and a second Apply keeps the next choice.
    for button, choice, expected in ((21, (2, 3), [0, 0, 0]), (20, (2, 3), [2, 0, 3]), (20, (1, 1), [1, 0, 1])):
        for list_id, index in zip((30, 32), choice):
            zv.run_driver("send", "--hwnd", lists[list_id], "--msg", CB_SETCURSEL, "--wparam", index)
        close(win, button)
        win, lists, chosen = open_settings(app)
        t.check_equal(chosen, expected, f"after {'Apply' if button == 20 else 'Close'} of {choice}, the choices shown")
    close(win)


def check_webcam_without_camera(t, app):
    button = controls(app)[WEBCAM]["hwnd"]
    dimmed = zv.run_driver("send", "--hwnd", button, "--msg", BM_GETIMAGE)[0]["result"]
    for press_number in (1, 2):
        zv.run_driver("command", "--hwnd", app.hwnd, "--id", WEBCAM)
        box = zv.run_driver("msgbox", "--title", "Webcam", "--pid", app.pid, "--timeout-ms", 10000)
        t.check_equal((box[0]["text"], [b["text"] for b in box[1:]]), (WEBCAM_WARNING, ["OK"]),
                      f"press {press_number}: the warning and its OK button")
        zv.run_driver("msgbox", "--title", "Webcam", "--pid", app.pid, "--press", "ok")
        zv.wait_for(lambda: not zv.windows(title="Webcam", visible=True), 10, what="the warning to close")
        t.check_equal(len(zv.windows(title="Webcam", visible=True)), 0, f"press {press_number}: one warning only")
        t.check_equal(zv.run_driver("send", "--hwnd", button, "--msg", BM_GETIMAGE)[0]["result"], dimmed,
                      f"press {press_number}: the button stays dimmed")
        t.check_equal(zv.windows(class_name="WebcamOverlayWnd"), [], f"press {press_number}: no overlay left")


def main(t):
    app, _ = start(t)
    check_about(t, app)
    check_settings(t, app)
    check_webcam_without_camera(t, app)
    open_settings(app)  # the tray's Exit while the settings window runs its loop still ends the program
    zv.run_driver("command", "--hwnd", app.hwnd, "--id", 2003)
    t.check_equal(zv.wait_exit(app, 30), 0, "the tray's Exit with the settings window open ends the program with 0")


zv.run_test(main)
