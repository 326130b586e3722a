"""Zentrovia starts with its main window and menu, stays single-instance, and
ends cleanly when the main window is closed."""
import zvtest as zv

TITLE, CLASS = "zentrovia", "ZENTROVIA"
OUTER_SIZE = (520, 310)
WS_SIGNIFICANT = 0x00FFFFFF  # WS_VISIBLE, WS_CLIPSIBLINGS etc. sit above
CAPTION_SYSMENU_MINIMIZEBOX = 0xCA0000
ID_EXIT, ID_ABOUT = 105, 104
ALREADY_RUNNING = "Zentrovia is already running.\nCheck the system tray (bottom-right corner)."
START_BOUND_MS = 20000


def items(menu_item):
    return [(i["text"], int(i["id"]), i["separator"] == "1") for i in menu_item["items"]]


def check_main_window(t, win):
    t.check_equal(win["class"], CLASS, "main window class")
    t.check_equal(zv.size(win["rect"]), OUTER_SIZE, "main window outer size")
    style = zv.number(win["style"])
    t.check_equal(hex(style & WS_SIGNIFICANT), hex(CAPTION_SYSMENU_MINIMIZEBOX),
                  "main window style: caption, system menu, minimize box only")
    t.check_equal(win["visible"], "1", "main window visible")


def check_menu(t, hwnd):
    tree = zv.menu_tree(zv.run_driver("menu", "--hwnd", hwnd))
    t.require_equal([item["text"] for item in tree], ["&File", "&Help"], "menu bar: File and Help")
    file_items = items(tree[0])
    exit_only = [("E&xit", ID_EXIT, False)]
    with_settings = len(file_items) == 3 and "General Settings" in file_items[0][0] and file_items[1][2]
    t.check(file_items == exit_only or (with_settings and file_items[2:] == exit_only),
            "File menu: E&xit (105), optionally after General Settings... and a separator", str(file_items))
    t.check_equal(items(tree[1]), [("&About ...", ID_ABOUT, False)], "Help menu: &About ... (104)")


def check_second_instance(t, first_win):
    # Minimised first, so "brought back" is visible from outside.
    zv.run_driver("send", "--hwnd", first_win["hwnd"], "--msg", zv.WM_SYSCOMMAND, "--wparam", zv.SC_MINIMIZE)
    zv.wait_for(lambda: zv.run_driver("state", "--hwnd", first_win["hwnd"])[0]["iconic"] == "1", 5,
                what="first window minimised")

    second = zv.start_app()
    t.at_cleanup(lambda: zv.stop_app(second))
    box = zv.run_driver("msgbox", "--title", "Zentrovia", "--timeout-ms", START_BOUND_MS, timeout=40)
    dialog = box[0]
    t.check(dialog["pid"] != first_win["pid"], "the message box comes from the second process")
    t.check_equal(dialog["text"], ALREADY_RUNNING, "second start: message box text")
    t.check_equal([r["text"] for r in box if r.get("kind") == "button"], ["OK"], "second start: only an OK button")

    state = zv.run_driver("state", "--hwnd", first_win["hwnd"])[0]
    t.check_equal((state["iconic"], state["visible"]), ("0", "1"), "second start: first window restored")
    mains = zv.windows(class_name=CLASS, visible=True)
    t.check_equal([w["hwnd"] for w in mains], [first_win["hwnd"]], "second start: no second main window")

    zv.run_driver("msgbox", "--title", "Zentrovia", "--press", "ok", "--timeout-ms", 5000)
    t.check_equal(zv.wait_exit(second, 15), 0, "second start: exits with 0 after OK")
    t.check_equal(zv.run_driver("state", "--hwnd", first_win["hwnd"])[0]["exists"], "1",
                  "second start: first instance still running")


def main(t):
    t.require(zv.env().app_exe is not None, "Zentrovia.exe path is known")
    first = zv.start_app()
    t.at_cleanup(lambda: zv.stop_app(first))
    win = zv.find_window(title=TITLE, class_name=CLASS, timeout_ms=START_BOUND_MS)
    first.hwnd, first.pid = win["hwnd"], int(win["pid"])

    check_main_window(t, win)
    check_menu(t, win["hwnd"])
    check_second_instance(t, win)

    zv.run_driver("post", "--hwnd", win["hwnd"], "--msg", zv.WM_CLOSE)
    zv.run_driver("wait-gone", "--hwnd", win["hwnd"], "--timeout-ms", 10000)
    t.check_equal(zv.wait_exit(first, 15), 0, "closing the main window ends the program with 0")


zv.run_test(main)
