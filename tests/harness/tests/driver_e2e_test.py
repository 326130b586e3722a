"""The driver and zvtest.py against zvtestwindow.exe, whose answers are known,
so that failures in tests of the real program point at the program."""
import tempfile
from pathlib import Path

import zvtest as zv

TITLE = "zv harness test window"
WS_SIGNIFICANT = 0x00FFFFFF
GREET, EDIT, OPTION, STATUS = 201, 202, 203, 204
SAY_HELLO, EXIT = 301, 302


def status_text(children):
    return zv.run_driver("text", "--hwnd", children[STATUS]["hwnd"])[0]["text"]


def check_window(t, win):
    t.check_equal(win["class"], "ZVTESTWINDOW", "find: class")
    t.check_equal(zv.size(win["rect"]), (400, 300), "find: outer size")
    t.check_equal(zv.rect(win["rect"])[:2], (100, 100), "find: position")
    t.check_equal(hex(zv.number(win["style"]) & WS_SIGNIFICANT), hex(0xCA0000), "find: style bits")
    t.check_equal(win["visible"], "1", "find: visible")
    client = zv.rect(win["client"])
    outer = zv.rect(win["rect"])
    t.check(outer[0] < client[0] and client[2] < outer[2] and outer[1] < client[1], "find: client inside frame",
            f"{client} in {outer}")


def check_children(t, hwnd):
    records = zv.run_driver("children", "--hwnd", hwnd)
    t.check_equal([(r["class"], r["id"], r["text"]) for r in records],
                  [("Button", "201", "&Greet"), ("Edit", "202", "hello edit"), ("Button", "203", "Option"),
                   ("Static", "204", "Status: idle")], "children: classes, ids and texts in creation order")
    by_id = {int(r["id"]): r for r in records}
    t.check_equal(zv.rect(by_id[GREET]["rect"]), (10, 10, 130, 40), "children: rect relative to the client area")
    t.check_equal(zv.number(by_id[OPTION]["style"]) & 0xF, 0x3, "children: checkbox style BS_AUTOCHECKBOX")
    return by_id


def check_menu(t, hwnd):
    tree = zv.menu_tree(zv.run_driver("menu", "--hwnd", hwnd))
    t.check_equal([item["text"] for item in tree], ["&File", "&View"], "menu: bar items")
    file_items = [(i["id"], i["text"], i["separator"]) for i in tree[0]["items"]]
    t.check_equal(file_items, [("301", "&Say hello", "0"), ("0", "", "1"), ("302", "E&xit", "0")],
                  "menu: File items, separator in place")
    view = tree[1]["items"]
    t.check_equal((view[0]["id"], view[0]["checked"], view[0]["grayed"]), ("304", "1", "0"), "menu: checked item")
    t.check_equal((view[1]["id"], view[1]["grayed"]), ("303", "1"), "menu: grayed item")


def check_message_box(t, win, children):
    zv.run_driver("command", "--hwnd", win["hwnd"], "--id", SAY_HELLO)
    box = zv.run_driver("msgbox", "--timeout-ms", 5000)
    dialog = box[0]
    t.check_equal(dialog["title"], "ZV Test", "msgbox: caption")
    t.check_equal(dialog["text"], "Hello from the test window.\nSecond line.", "msgbox: text with its line break")
    t.check_equal(dialog["pid"], win["pid"], "msgbox: shown by the test window's process")
    t.check_equal(sorted(r["text"] for r in box if r.get("kind") == "button"), ["Cancel", "OK"], "msgbox: buttons")
    zv.run_driver("msgbox", "--timeout-ms", 5000, "--press", "ok")
    zv.run_driver("wait-gone", "--hwnd", dialog["hwnd"], "--timeout-ms", 5000)
    zv.wait_for(lambda: status_text(children) == "Status: ok", 5, what="status after OK")
    t.check(True, "msgbox: OK pressed, the box closed and the program saw IDOK")


def screen_point_of(win, child, dx=0, dy=0):
    client = zv.rect(win["client"])
    left, top, right, bottom = zv.rect(child["rect"])
    return client[0] + (left + right) // 2 + dx, client[1] + (top + bottom) // 2 + dy


def check_real_clicks(t, win, children):
    x, y = screen_point_of(win, children[GREET])
    zv.mouse_click(x, y)
    zv.wait_for(lambda: status_text(children) == "Status: greeted 1", 5, what="status after an X click on Greet")
    t.check(True, "xdotool: a real click on the button reached the program")
    zv.run_driver("click", "--hwnd", children[GREET]["hwnd"])
    zv.wait_for(lambda: status_text(children) == "Status: greeted 2", 5, what="status after BM_CLICK")
    t.check(True, "driver click: BM_CLICK reached the program")

    # Right click on empty client area opens the popup menu.
    px, py = screen_point_of(win, children[STATUS], 0, 60)
    zv.mouse_click(px, py, button=3)
    popup = zv.run_driver("popup-menu", "--timeout-ms", 5000)
    t.check_equal([(r["id"], r["text"]) for r in popup[1:]], [("401", "Popup &one"), ("402", "Popup &two")],
                  "popup-menu: items of the shown popup")
    zv.key("Down", "Down", "Return")
    zv.wait_for(lambda: status_text(children) == "Status: popup two", 5, what="popup choice by keyboard")
    t.check(True, "xdotool: keys chose the second popup item")


def check_capture(t, win, scratch):
    left, top, right, bottom = zv.rect(win["client"])
    bitmap = zv.capture(left, top, right - left, bottom - top, scratch / "client.bmp")
    t.check_equal((bitmap.width, bitmap.height), (right - left, bottom - top), "capture: size of the region")
    # Lower right of the client area has no controls: plain window background.
    corner = {bitmap.pixel(x, y) for x in range(bitmap.width - 40, bitmap.width - 5)
              for y in range(bitmap.height - 40, bitmap.height - 5)}
    t.check_equal(len(corner), 1, "capture: empty client corner is one colour")
    t.check(corner != {(0, 0, 0)}, "capture: read the window, not the black root", str(corner))


def check_failure_paths(t):
    missing = zv.try_driver("find", "--title", "no such window", "--timeout-ms", 300)
    t.check_equal(missing.code, zv.DRIVER_FAILED, "find: exit 1 when nothing matches")
    t.check_equal(zv.try_driver("msgbox", "--timeout-ms", 200).code, zv.DRIVER_FAILED, "msgbox: exit 1 when none")
    t.check_equal(zv.try_driver("text", "--hwnd", "0x7").code, zv.DRIVER_FAILED, "text: exit 1 for a bad handle")
    t.check_equal(zv.try_driver("send", "--hwnd", "0x7").code, zv.DRIVER_FAILED, "send: bad handle first")
    usage = zv.try_driver("find", "--title")
    t.check_equal(usage.code, zv.DRIVER_USAGE, "usage error: exit 2")
    t.check("find --title T" in usage.stderr, "usage error: prints the command list")
    t.check_equal(zv.try_driver("bogus").code, zv.DRIVER_USAGE, "unknown command: exit 2")


def main(t):
    e = zv.env()
    t.require(e.pictures_dir.is_dir(), "session: Pictures folder exists on the Linux side", str(e.pictures_dir))
    scratch = Path(tempfile.mkdtemp(prefix="zv-harness-"))

    app = zv.start_app(e.testwindow_exe, ("--exit-code", "3"))
    t.at_cleanup(lambda: zv.stop_app(app))
    win = zv.find_window(title=TITLE, timeout_ms=20000)
    app.hwnd, app.pid = win["hwnd"], int(win["pid"])

    check_window(t, win)
    children = check_children(t, win["hwnd"])
    check_menu(t, win["hwnd"])
    check_message_box(t, win, children)
    check_real_clicks(t, win, children)
    check_capture(t, win, scratch)
    check_failure_paths(t)

    zv.run_driver("close", "--hwnd", win["hwnd"])
    zv.run_driver("wait-gone", "--hwnd", win["hwnd"], "--timeout-ms", 5000)
    t.check_equal(zv.wait_exit(app, 10), 3, "exit code of the program reaches the test")

    # A second run ended from its menu, to show stop_app is safe on a finished program.
    second = zv.start_app(e.testwindow_exe)
    t.at_cleanup(lambda: zv.stop_app(second))
    win2 = zv.find_window(title=TITLE, timeout_ms=20000)
    zv.run_driver("command", "--hwnd", win2["hwnd"], "--id", EXIT)
    t.check_equal(zv.wait_exit(second, 10), 0, "menu Exit ends the program with 0")
    t.check_equal(zv.stop_app(second), 0, "stop_app on a finished program returns its code")


zv.run_test(main)
