"""What the window looks like on screen and inside a recording: captures of single
controls and frames decoded from a recorded file."""
from __future__ import annotations

import shutil
import subprocess
from pathlib import Path

import zvtest as zv
from mainwindow import SCREEN_SIZE

BACKGROUND = (45, 45, 48)
STATUS_BLUE = (79, 70, 229)


def control_shot(win: dict, child: dict, scratch: Path, name: str) -> zv.Bitmap:
    """The control's rectangle as it is on screen now."""
    client = zv.rect(win["client"])
    left, top, right, bottom = zv.rect(child["rect"])
    return zv.capture(client[0] + left, client[1] + top, right - left, bottom - top, scratch / f"{name}.bmp")


def inner(bitmap: zv.Bitmap, inset: int = 5) -> zv.Bitmap:
    """The picture without its edge, where a focus rectangle may come and go."""
    rows = [row[3 * inset:len(row) - 3 * inset] for row in bitmap.rows[inset:bitmap.height - inset]]
    return zv.Bitmap(bitmap.width - 2 * inset, bitmap.height - 2 * inset, rows)


def mean_brightness(bitmap: zv.Bitmap) -> float:
    total = sum(sum(row) for row in bitmap.rows)
    return total / (3 * bitmap.width * bitmap.height)


class Frame:
    """One decoded RGB picture of the screen size."""

    def __init__(self, data: bytes, width: int, height: int) -> None:
        self.data, self.width, self.height = data, width, height

    def pixel(self, x: int, y: int) -> tuple[int, int, int]:
        i = 3 * (y * self.width + x)
        return self.data[i], self.data[i + 1], self.data[i + 2]


def decoded_frame(path: Path, at_s: float) -> Frame:
    """The frame shown at at_s seconds, decoded by ffmpeg (the independent oracle)."""
    width, height = SCREEN_SIZE
    done = subprocess.run([shutil.which("ffmpeg") or "ffmpeg", "-v", "error", "-ss", f"{at_s:.3f}", "-i", str(path),
                           "-frames:v", "1", "-f", "rawvideo", "-pix_fmt", "rgb24", "-"],
                          capture_output=True, timeout=120)
    if done.returncode != 0 or len(done.stdout) != width * height * 3:
        raise zv.CheckFailed(f"ffmpeg could not decode a frame at {at_s} s of {path}: "
                             f"{done.stderr.decode(errors='replace')[:300]}")
    return Frame(done.stdout, width, height)


def near(colour: tuple[int, int, int], expected: tuple[int, int, int], tolerance: int) -> bool:
    return all(abs(a - b) <= tolerance for a, b in zip(colour, expected))


def check_window_in_frame(t: zv.Test, frame: Frame, win: dict, status_rect: tuple[int, int, int, int],
                          label: str) -> None:
    """The recorded picture shows the main window where it is on screen: its dark background
    below the footer and the blue status text in the status line."""
    client = zv.rect(win["client"])
    empty = [frame.pixel(x, y) for x in range(client[0] + 10, client[2] - 10, 9)
             for y in range(client[1] + 235, client[3] - 5, 5)]
    dark = sum(near(p, BACKGROUND, 12) for p in empty)
    t.check(dark >= 0.95 * len(empty), f"{label}: the window's background is in the recorded picture",
            f"{dark} of {len(empty)} samples near {BACKGROUND}, e.g. {empty[:3]}")
    left, top, right, bottom = status_rect
    blue = sum(near(frame.pixel(x, y), STATUS_BLUE, 40)
               for x in range(client[0] + left, client[0] + right) for y in range(client[1] + top, client[1] + bottom))
    t.check(blue >= 200, f"{label}: the blue status text is in the recorded picture", f"{blue} blue pixels")
