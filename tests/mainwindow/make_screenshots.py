"""Regenerates docs/main-window-ready.png and docs/main-window-recording.png. Run by hand in
a running session (the pictures are committed; no test writes into docs/):

    ZV_SESSION_DIR=... ZV_DRIVER_EXE=... ZV_WINE_RUN=... ZV_APP_EXE=... ZV_WATCH_EXE=... \\
        PYTHONPATH=tests/harness:tests/mainwindow python3 tests/mainwindow/make_screenshots.py DOCS_DIR
"""
import struct
import sys
import tempfile
import zlib
from pathlib import Path

import zvtest as zv
from mainwindow import READY, RECORD, Watcher, recordings_in, remove_if_passed, start_zentrovia


def write_png(bitmap, top, path):
    """The bitmap's rows from `top` down as an 8-bit RGB PNG."""
    raw = b"".join(b"\x00" + bytes(c for x in range(bitmap.width) for c in bitmap.pixel(x, y))
                   for y in range(top, bitmap.height))

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))

    header = struct.pack(">IIBBBBB", bitmap.width, bitmap.height - top, 8, 2, 0, 0, 0)
    path.write_bytes(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(raw, 9))
                     + chunk(b"IEND", b""))


def shoot(win, scratch, out):
    left, top, right, bottom = zv.rect(win["rect"])
    bitmap = zv.capture(left, top, right - left, bottom - top, scratch / "window.bmp")
    # Without a window manager on Xvfb nobody paints the caption: start at the menu bar.
    first = next(y for y in range(bitmap.height)
                 if any(bitmap.pixel(x, y) != (0, 0, 0) for x in range(10, bitmap.width - 10)))
    write_png(bitmap, first, out)
    print(f"wrote {out} ({bitmap.width} x {bitmap.height - first})", flush=True)


def main(t):
    docs = Path(sys.argv[1]) if len(sys.argv) > 1 else Path(__file__).resolve().parents[2] / "docs"
    scratch = Path(tempfile.mkdtemp(prefix="zv-shots-"))
    folder = zv.env().pictures_dir / "Zentrovia"
    earlier = recordings_in(folder)
    app, win = start_zentrovia(t)
    watcher = Watcher(t, win["hwnd"])
    zv.mouse_move(900, 700)  # keep the pointer off the window
    t.check_equal(watcher.latest(1007)["text"], READY, "ready")
    shoot(win, scratch, docs / "main-window-ready.png")
    start, _ = watcher.command(RECORD)
    watcher.wait_status("Recording: 00:00:03", 20, start)
    shoot(win, scratch, docs / "main-window-recording.png")
    stop, _ = watcher.command(RECORD)
    watcher.wait_status(READY, 20, stop)
    t.check(True, "both pictures taken")
    zv.run_driver("post", "--hwnd", win["hwnd"], "--msg", zv.WM_CLOSE)
    zv.wait_exit(app, 20)
    remove_if_passed(t, folder, earlier)


zv.run_test(main)
