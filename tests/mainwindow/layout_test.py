"""The main window as it comes up: size and style, every control in creation order with its
class, text, id, rectangle and style, the menu bar, the pictures on the image buttons, the
painted background, and the commands that must leave a ready window as it was."""
import tempfile
from pathlib import Path

import zvtest as zv
from mainwindow import (ABOUT, BROWSE, CLASS, EXIT, FOLDER, FULL_SCREEN, MICROPHONE, PAUSE, READY, RECORD, REGION,
                        SETTINGS, STATUS, TITLE, WEBCAM, Watcher, output_folder_of, start_zentrovia)

WS_SIGNIFICANT = 0x00FFFFFF
WS_BORDER = 0x00800000
BACKGROUND = (45, 45, 48)

# class, text (None: the output folder), id, client rect (left, top, right, bottom), style
CONTROLS = [
    ("Static", "Zentrovia", 0, (0, 10, 500, 42), 0x50000201),
    ("Button", "", RECORD, (47, 60, 95, 108), 0x50008080),
    ("Button", "", PAUSE, (122, 60, 170, 108), 0x50008080),
    ("Button", "", FULL_SCREEN, (197, 60, 245, 108), 0x50008080),
    ("Button", "", REGION, (272, 60, 320, 108), 0x50008080),
    ("Button", "", MICROPHONE, (347, 60, 395, 108), 0x50008080),
    ("Button", "", WEBCAM, (422, 60, 470, 108), 0x50008080),
    ("Static", "Output Folder:", 0, (30, 130, 130, 150), 0x50000000),
    ("Edit", None, FOLDER, (130, 128, 410, 152), 0x50800880),
    ("Button", "Browse...", BROWSE, (420, 128, 490, 152), 0x5000000B),
    ("Static", READY, STATUS, (0, 170, 500, 200), 0x50000001),
    ("Static", "Zentrovia v1.0.0", 0, (0, 205, 500, 223), 0x50000001),
]


def check_window(t, win):
    t.check_equal((win["class"], win["title"]), (CLASS, TITLE), "main window class and title")
    t.check_equal(zv.size(win["rect"]), (520, 310), "main window outer size 520 x 310")
    t.check_equal(zv.number(win["style"]) & WS_SIGNIFICANT, 0xCA0000,
                  "main window style: caption, system menu, minimize box (no sizing frame, no maximize box)")
    t.check_equal(win["visible"], "1", "main window visible")


def edit_border_drawn(win, rect, scratch):
    """True when the folder box shows a frame line that differs from the window background."""
    client = zv.rect(win["client"])
    left, top, right, bottom = rect
    shot = zv.capture(client[0] + left, client[1] + top, right - left, bottom - top, scratch / "edit.bmp")
    top_row = {shot.pixel(x, 0) for x in range(4, shot.width - 4)}
    return BACKGROUND not in top_row


def check_children(t, win, scratch):
    records = zv.run_driver("children", "--hwnd", win["hwnd"])
    t.require_equal(len(records), len(CONTROLS), "twelve child controls")
    expected_folder = "C:\\users\\" + zv.env().pictures_dir.parent.name + "\\Pictures\\Zentrovia"
    for record, (class_name, text, control_id, rect, style) in zip(records, CONTROLS):
        text = text if text is not None else expected_folder
        actual_style = zv.number(record["style"])
        framed_edit = control_id == FOLDER and actual_style == style & ~WS_BORDER
        if framed_edit:
            # Wine's edit control takes WS_BORDER out of its style and draws the frame itself.
            t.check(edit_border_drawn(win, rect, scratch), "folder box: the frame is drawn",
                    f"style {actual_style:#x}, no frame line seen")
            actual_style = style
        actual = (record["class"].lower(), record["text"], int(record["id"]), zv.rect(record["rect"]),
                  hex(actual_style))
        t.check_equal(actual, (class_name.lower(), text, control_id, rect, hex(style)),
                      f"control {control_id} '{text}': class, text, id, client rect, style")
    t.check(output_folder_of(win["hwnd"]) == zv.env().pictures_dir / "Zentrovia",
            "folder box names Pictures\\Zentrovia of this prefix")
    t.check((zv.env().pictures_dir / "Zentrovia").is_dir(), "the output folder exists")


def check_menu(t, hwnd):
    tree = zv.menu_tree(zv.run_driver("menu", "--hwnd", hwnd))
    t.require_equal([item["text"] for item in tree], ["&File", "&Help"], "menu bar: &File, &Help")
    file_items = [(i["text"], int(i["id"]), i["separator"]) for i in tree[0]["items"]]
    t.check_equal(file_items, [("General Settings...", SETTINGS, "0"), ("", 0, "1"), ("E&xit", EXIT, "0")],
                  "File menu: General Settings... (32773), separator, E&xit (105)")
    help_items = [(i["text"], int(i["id"])) for i in tree[1]["items"]]
    t.check_equal(help_items, [("&About ...", ABOUT)], "Help menu: &About ... (104)")
    t.check(all(i["grayed"] == "0" for i in tree[0]["items"] + tree[1]["items"] if i["separator"] == "0"),
            "no menu item is grayed")


def check_pictures(t, watcher):
    images = {cid: zv.number(watcher.latest(cid)["image"]) for cid in (RECORD, PAUSE, FULL_SCREEN, REGION,
                                                                       MICROPHONE, WEBCAM)}
    t.check(all(images.values()), "every image button carries a picture", str(images))
    t.check_equal(len(set(images.values())), 6, "the six image buttons show six different pictures")


def check_background(t, win, scratch):
    client = zv.rect(win["client"])
    width, height = client[2] - client[0], client[3] - client[1]
    shot = zv.capture(client[0], client[1], width, height, scratch / "client.bmp")
    # Below the footer nothing is drawn but the window's own background.
    corner = {shot.pixel(x, y) for x in range(10, width - 10, 7) for y in range(235, height - 5, 5)}
    t.check_equal(corner, {BACKGROUND}, "client area background is the dark RGB(45, 45, 48)")


def check_ready_commands_change_nothing(t, watcher):
    """Select region (not built yet) and full screen in Ready leave every control as it was."""
    for command_id, name in ((REGION, "select region"), (FULL_SCREEN, "full screen")):
        start, posted_at = watcher.command(command_id)
        end, _ = watcher.settle(posted_at)
        t.check_equal(watcher.changes(start, end), [], f"{name} in Ready changes nothing in the window")
    t.check_equal(watcher.latest(STATUS)["text"], READY, "status still 'Ready to Record'")


def main(t):
    scratch = Path(tempfile.mkdtemp(prefix="zv-layout-"))
    app, win = start_zentrovia(t)
    check_window(t, win)
    check_children(t, win, scratch)
    check_menu(t, win["hwnd"])
    watcher = Watcher(t, win["hwnd"])
    check_pictures(t, watcher)
    check_background(t, win, scratch)
    check_ready_commands_change_nothing(t, watcher)
    zv.run_driver("post", "--hwnd", win["hwnd"], "--msg", zv.WM_CLOSE)
    t.check_equal(zv.wait_exit(app, 20), 0, "closing the ready window ends the program with 0")


zv.run_test(main)
