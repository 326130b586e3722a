"""Minimising hides the main window (only the tray icon stays); the tray's Show Window and a
double click on the tray icon bring it back; Hide Window hides it; a single left click on
the icon does nothing."""
import zvtest as zv
from mainwindow import (TRAY_HIDE, TRAY_SHOW, WM_LBUTTONDBLCLK, WM_LBUTTONDOWN, WM_LBUTTONUP, WM_RBUTTONUP,
                        WM_TRAYICON, Watcher, start_zentrovia)

BOUND_S = 10


def shown(r):
    return r["visible"] == "1" and r["iconic"] == "0"


def hidden(r):
    return r["visible"] == "0"


def minimise(t, watcher, label):
    start, _ = watcher.post(zv.WM_SYSCOMMAND, zv.SC_MINIMIZE)
    watcher.wait_window(hidden, BOUND_S, f"{label}: window hidden", start)
    t.check(True, f"{label}: SC_MINIMIZE hides the window")


def check_restore(t, watcher, how, action):
    start, _ = action()
    watcher.wait_window(shown, BOUND_S, f"{how}: window shown again", start)
    t.check(True, f"{how} brings the window back, visible and not minimised")
    watcher.wait_window(lambda r: shown(r) and r["foreground"] == "1", BOUND_S, f"{how}: window in front", start)
    t.check(True, f"{how}: the window is the foreground window")


def check_single_click_inert(t, watcher, label):
    before = watcher.latest_window()
    start, posted_at = watcher.post(WM_TRAYICON, 0, WM_LBUTTONDOWN)
    watcher.post(WM_TRAYICON, 0, WM_LBUTTONUP)
    end, _ = watcher.settle(posted_at, 1500)
    # Focus may still move after an earlier hide; what the click must not change is the window's showing.
    showing = [(r["exists"], r["visible"], r["iconic"]) for r in watcher.changes(start, end) if r["kind"] == "window"]
    t.check(all(s == (before["exists"], before["visible"], before["iconic"]) for s in showing),
            f"{label}: a single left click on the tray icon changes nothing", str(showing))
    t.check_equal(hidden(watcher.latest_window()), hidden(before), f"{label}: visibility as before")
    t.check_equal(zv.try_driver("popup-menu", "--timeout-ms", 0).code, zv.DRIVER_FAILED,
                  f"{label}: no menu opened by a left click")


def main(t):
    app, win = start_zentrovia(t)
    watcher = Watcher(t, win["hwnd"])
    t.require(shown(watcher.latest_window()), "window shown at start")
    layout_before = zv.run_driver("children", "--hwnd", win["hwnd"])

    check_single_click_inert(t, watcher, "shown window")

    minimise(t, watcher, "first")
    state = zv.run_driver("state", "--hwnd", win["hwnd"])[0]
    t.check_equal(state["exists"], "1", "minimised: the window still exists")
    check_single_click_inert(t, watcher, "minimised window")
    check_restore(t, watcher, "tray Show Window (2001)", lambda: watcher.command(TRAY_SHOW))

    minimise(t, watcher, "second")
    check_restore(t, watcher, "double click on the tray icon", lambda: watcher.post(WM_TRAYICON, 0, WM_LBUTTONDBLCLK))

    start, _ = watcher.command(TRAY_HIDE)
    watcher.wait_window(hidden, BOUND_S, "tray Hide Window: window hidden", start)
    t.check(True, "tray Hide Window (2002) hides the window")
    check_restore(t, watcher, "tray Show Window after Hide", lambda: watcher.command(TRAY_SHOW))

    # The same through the menu itself: right click on the icon, second item from the keyboard.
    start, _ = watcher.post(WM_TRAYICON, 0, WM_RBUTTONUP)
    items = zv.run_driver("popup-menu", "--timeout-ms", 5000)[1:]
    t.check_equal([(i["text"], int(i["id"])) for i in items[:2]],
                  [("Show Window", TRAY_SHOW), ("Hide Window", TRAY_HIDE)],
                  "tray menu starts with Show Window, Hide Window")
    zv.key("Down", "Down", "Return")
    watcher.wait_window(hidden, BOUND_S, "Hide Window chosen in the tray menu: window hidden", start)
    t.check(True, "Hide Window chosen in the tray menu hides the window")
    check_single_click_inert(t, watcher, "hidden window")
    check_restore(t, watcher, "tray Show Window after Hide", lambda: watcher.command(TRAY_SHOW))

    after = zv.run_driver("find", "--title", "zentrovia", "--class", "ZENTROVIA", "--visible", 1)[0]
    t.check_equal((after["hwnd"], after["rect"]), (win["hwnd"], win["rect"]), "same window, same place and size")
    t.check_equal(zv.run_driver("children", "--hwnd", win["hwnd"]), layout_before, "controls unchanged")

    zv.run_driver("post", "--hwnd", win["hwnd"], "--msg", zv.WM_CLOSE)
    t.check_equal(zv.wait_exit(app, 20), 0, "program ends with 0")


zv.run_test(main)
