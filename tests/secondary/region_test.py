"""Journey: choose the capture rectangle on the region selector with real drags, clicks and
Escape (and one released past the screen's top-left corner, as on a second monitor), and find
each choice (or its absence) in the next recording: its size by ffprobe, its place by the
pattern window decoded where the selection put it."""
import os

import zvtest as zv
from zentrovia import (AWAY, RECORD, click, controls, decoded_pixels, linux_path, new_recording, rect, seconds, start,
                       status)

REGION, FULL_SCREEN = 1005, 1009
PATTERN = (100, 50, 300, 200)  # x, y, width, height: red top half, blue bottom half, green band 10 wide at the left
RED, BLUE, GREEN = (255, 0, 0), (0, 0, 255), (0, 255, 0)


def pattern_colour(x, y):
    """The pattern's colour at a screen point inside it."""
    left, top, _, height = PATTERN
    return GREEN if x - left < 10 else RED if y - top < height // 2 else BLUE


def on_selector(app, gesture):
    """Opens the selector with a real click, performs the gesture on it, and waits until the main window is back."""
    click(app, REGION)
    selector = zv.find_window(class_name="RegionSelectorClass", pid=app.pid)
    hidden = zv.run_driver("find", "--title", "zentrovia", "--pid", app.pid)[0]["visible"] == "0"
    gesture()
    zv.run_driver("wait-gone", "--hwnd", selector["hwnd"])
    # In front: first of the visible normal windows in Z order. (Wine without a window manager may lose
    # the focus, hence the foreground flag, to X's late focus events from the destroyed selector.)
    back = zv.wait_for(lambda: [w["title"] for w in zv.windows(visible=True) if not int(w["exstyle"], 16) & 0x8][:1]
                       == ["zentrovia"], 10, what="the main window in front again")
    return hidden and back


def drag(x0, y0, x1, y1, escape_midway=False):
    def gesture():
        zv.xdotool("mousemove", x0, y0, "mousedown", 1, "sleep", 0.3, "mousemove", (x0 + x1) // 2, (y0 + y1) // 2,
                   "sleep", 0.3, "mousemove", x1, y1, "sleep", 0.3)
        if escape_midway:  # X gives the key to its focus window, so the selector under the pointer gets it first
            under = dict(item.split("=") for item in zv.xdotool("getmouselocation", "--shell").split())["WINDOW"]
            zv.xdotool("windowfocus", under)
            zv.key("Escape")
        # The pointer leaves at once: X hands its focus to the window under it when the selector goes.
        zv.xdotool("mouseup", 1, "mousemove", *AWAY)
    return gesture


def posted_drag(x0, y0, x1, y1):
    """A drag one screen cannot give: released left of and above it, where a pointer captured on a second
    monitor goes (negative positions, 16-bit in the message)."""
    def gesture():
        selector = zv.find_window(class_name="RegionSelectorClass")["hwnd"]
        for message, x, y in ((0x201, x0, y0), (0x200, x1, y1), (0x202, x1, y1)):  # down, move, up
            zv.run_driver("post", "--hwnd", selector, "--msg", message, "--wparam", 1, "--lparam",
                          (y & 0xFFFF) << 16 | (x & 0xFFFF))
    return gesture


def record(t, app, folder):
    before = {p.name for p in folder.glob("*.mp4")}
    click(app, RECORD)
    zv.wait_for(lambda: seconds(status(app)) >= 2, 30, what="two seconds of recording")
    click(app, RECORD)
    return new_recording(t, folder, before)


def check_recorded_region(t, app, folder, x, y, what):
    """The recording is 300 x 200 and shows the screen from (x, y): the pattern's colours where they are."""
    path = record(t, app, folder)
    stream = zv.ffprobe_json(path)["streams"][0]
    t.check_equal((stream["width"], stream["height"]), (300, 200), f"{what}: 300 x 200 frames")
    frame = decoded_pixels(path, 1.0)
    points = [(px, py) for px, py in ((5, 20), (150, 20), (150, 60), (150, 120), (250, 180))
              if PATTERN[1] <= y + py < PATTERN[1] + PATTERN[3]]
    seen = [tuple(frame[3 * (py * 300 + px):3 * (py * 300 + px) + 3]) for px, py in points]
    expected = [pattern_colour(x + px, y + py) for px, py in points]
    t.check(len(points) >= 3 and all(max(abs(a - b) for a, b in zip(s, e)) < 60 for s, e in zip(seen, expected)),
            f"{what}: the frames show the screen from ({x}, {y})", list(zip(points, seen, expected)))


def main(t):
    pattern = zv.start_app(os.environ["ZV_PATTERN_EXE"], ("pattern", *map(str, PATTERN), "200"))
    t.at_cleanup(lambda: zv.stop_app(pattern))
    shown = zv.find_window(title="pattern")
    pattern.hwnd, pattern.pid = shown["hwnd"], int(shown["pid"])
    app, _ = start(t)
    folder = linux_path(controls(app)[1011]["text"])
    # Dragged by its caption off the pattern, which it would cover when it comes back after a selection.
    zv.xdotool("mousemove", 260, 12, "mousedown", 1, "sleep", 0.3, "mousemove", 960, 512, "sleep", 0.3, "mouseup", 1)
    zv.wait_for(lambda: rect(zv.find_window(title="zentrovia", pid=app.pid)["rect"])[0] == 700, 10,
                what="the main window moved away")
    for what, gesture, x, y in (("drag (100,100)-(400,300)", drag(100, 100, 400, 300), 100, 100),
                                ("reverse drag (400,300)-(100,100)", drag(400, 300, 100, 100), 100, 100),
                                ("drag (280,190)-(-20,-10)", posted_drag(280, 190, -20, -10), -20, -10)):
        zv.run_driver("command", "--hwnd", app.hwnd, "--id", FULL_SCREEN)
        t.check(on_selector(app, gesture), f"{what}: the main window hides and comes back in front")
        check_recorded_region(t, app, folder, x, y, what)
    on_selector(app, drag(100, 50, 401, 251))
    for what, gesture in (("a click", drag(200, 200, 200, 200)), ("a horizontal drag", drag(50, 50, 300, 50)),
                          ("Escape mid-drag", drag(150, 150, 450, 350, escape_midway=True))):
        t.check(on_selector(app, gesture), f"after {what} the main window is back in front")
    check_recorded_region(t, app, folder, 100, 50, "301 x 201 at (100,50), then a click, a line and Escape")
    zv.run_driver("command", "--hwnd", app.hwnd, "--id", FULL_SCREEN)
    stream = zv.ffprobe_json(record(t, app, folder))["streams"][0]
    t.check_equal((stream["width"], stream["height"]), (1920, 1080), "Full screen: the next recording is whole")
    click(app, REGION)  # the tray's Exit while the selector runs its loop still ends the program
    zv.find_window(class_name="RegionSelectorClass", pid=app.pid)
    zv.run_driver("command", "--hwnd", app.hwnd, "--id", 2003)
    t.check_equal(zv.wait_exit(app, 30), 0, "the tray's Exit with the selector open ends the program with 0")


zv.run_test(main)
