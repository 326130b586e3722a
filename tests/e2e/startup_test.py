"""Journey: start Zentrovia, start it again while it hides in the tray, hide and bring it back
through minimise, the tray's Hide/Show and a double click on the icon, then leave with the
tray menu's Exit, chosen from the keyboard while a recording is paused."""
import zvtest as zv
from zentrovia import (FOLDER, PAUSE, READY, RECORD, WM_LBUTTONDBLCLK, WM_TRAYICON, check_recording, click, controls,
                       linux_path, main_window, new_recording, open_tray_menu, picture, picture_watch, recorded, seconds,
                       start, status, status_watch)

ALREADY_RUNNING = "Zentrovia is already running.\nCheck the system tray (bottom-right corner)."


def shown(app):
    win = main_window(app)
    return win["visible"] == "1" and win["foreground"] == "1"


def check_hidden_then_back(t, app, hide, back, what):
    zv.run_driver(*hide)
    zv.wait_for(lambda: main_window(app)["visible"] == "0", 10, what=f"{what}: the window to hide")
    zv.run_driver(*back)
    t.check(zv.wait_for(lambda: shown(app), 10, what=f"{what}: the window back in front"), what)


def check_second_start(t, app):
    zv.run_driver("send", "--hwnd", app.hwnd, "--msg", zv.WM_SYSCOMMAND, "--wparam", zv.SC_MINIMIZE)
    t.require(main_window(app)["visible"] == "0", "minimising hides the main window")
    second = zv.start_app()
    t.at_cleanup(lambda: zv.stop_app(second))
    box = zv.run_driver("msgbox", "--title", "Zentrovia", "--timeout-ms", 20000)
    t.check(box[0]["pid"] != str(app.pid), "the second start shows the message box itself")
    t.check_equal((box[0]["text"], [b["text"] for b in box[1:]]), (ALREADY_RUNNING, ["OK"]), "its text and button")
    t.check(zv.wait_for(lambda: main_window(app)["visible"] == "1", 10, what="the first window back"),
            "the second start brings the first window back")
    t.check_equal(len(zv.windows(class_name="ZENTROVIA")), 1, "no second main window")
    zv.run_driver("msgbox", "--pid", box[0]["pid"], "--press", "ok")
    t.check_equal(zv.wait_exit(second, 15), 0, "the second start ends with 0 after OK")


def check_tray_exit_while_paused(t, app):
    folder = linux_path(controls(app)[FOLDER]["text"])
    before = {p.name for p in folder.glob("*.mp4")}
    began = click(app, RECORD, status_watch(app, READY, "--until-not"))
    zv.wait_for(lambda: seconds(status(app)) >= 2, 30, what="two seconds of recording")
    pausing = picture(app, PAUSE)
    paused = click(app, PAUSE, picture_watch(app, PAUSE, pausing, "--until-not"))
    frozen = seconds(status(app))
    items = [(i["text"], i["id"]) for i in open_tray_menu(app) if i["separator"] == "0"]
    t.check_equal([items[0], items[1], items[3]],
                  [("Show Window", "2001"), ("Hide Window", "2002"), ("Exit", "2003")],
                  "the tray menu: Show Window, Hide Window, Exit")
    t.check(abs(seconds(items[2][0]) - frozen) <= 1, "its duration line stands at the paused status",
            (items[2], frozen))
    zv.key("Up", "Return")  # the last item, Exit
    t.check_equal(zv.wait_exit(app, 30), 0, "the tray menu's Exit while paused ends the program with 0")
    made = new_recording(t, folder, before)
    check_recording(t, made, recorded(began, paused), "left from the tray while paused")
    made.unlink()


def main(t):
    app, win = start(t)
    fonts = {r["font"].split(",")[0] for r in zv.run_driver("children", "--hwnd", app.hwnd) if r["text"]}
    t.check_equal(fonts, {"Segoe UI"}, "every text of the main window is in Segoe UI")
    check_second_start(t, app)
    tray = ("post", "--hwnd", app.hwnd, "--msg", WM_TRAYICON, "--lparam")
    minimise = ("send", "--hwnd", app.hwnd, "--msg", zv.WM_SYSCOMMAND, "--wparam", zv.SC_MINIMIZE)
    check_hidden_then_back(t, app, minimise, (*tray, WM_LBUTTONDBLCLK),
                           "minimised, then a double click on the tray icon")
    check_hidden_then_back(t, app, ("command", "--hwnd", app.hwnd, "--id", 2002), ("command", "--hwnd", app.hwnd,
                           "--id", 2001), "the tray's Hide Window, then Show Window")
    check_tray_exit_while_paused(t, app)


zv.run_test(main)
