"""A recording made through the Recorder under Wine (the built-in writer) is an MP4 that
ffprobe reads as one Constrained Baseline H.264 stream of the rectangle's size, shows the
pattern and the cursor, and leaves the pause out of its timeline."""
import subprocess
from pathlib import Path

import zvtest as zv

WIDTH, HEIGHT = 320, 240


def decoded_rgb(path, index):
    """Frame `index` of the file as rows of (r, g, b) tuples."""
    raw = subprocess.run(
        ["ffmpeg", "-v", "error", "-i", str(path), "-vf", f"select=eq(n\\,{index})", "-vsync", "0",
         "-frames:v", "1", "-f", "rawvideo", "-pix_fmt", "rgb24", "-"],
        capture_output=True, timeout=60, check=True).stdout
    assert len(raw) == WIDTH * HEIGHT * 3, f"decoded {len(raw)} bytes"
    return [[tuple(raw[(y * WIDTH + x) * 3:(y * WIDTH + x) * 3 + 3]) for x in range(WIDTH)] for y in range(HEIGHT)]


def close_to(pixel, expected, tolerance=40):
    return all(abs(a - b) <= tolerance for a, b in zip(pixel, expected))


def main(t):
    env = zv.env()
    recorder = env.build_dir / "tests" / "windows" / "record_pattern.exe"
    target = "C:\\zv-record-pattern.mp4"
    linux_path = Path(env.session_env["WINEPREFIX"]) / "drive_c" / "zv-record-pattern.mp4"
    if linux_path.exists():
        linux_path.unlink()
    run = subprocess.run([str(env.wine_run), "--timeout", "60", str(recorder), target],
                         capture_output=True, text=True, timeout=90, env=env.process_env())
    t.check_equal(run.returncode, 0, f"record_pattern exit code ({run.stderr.strip()})")
    t.check(linux_path.is_file(), f"{linux_path} was written")

    # The encoder time base of the null output must be the file's own: frames stamped with
    # their real times can fall into one tick of a 1/30 s base and draw a muxer complaint.
    errors = subprocess.run(["ffmpeg", "-v", "error", "-i", str(linux_path), "-enc_time_base", "-1",
                             "-f", "null", "-"],
                            capture_output=True, text=True, timeout=60)
    t.check_equal(errors.stderr.strip(), "", "ffmpeg decodes the file without a word")

    info = zv.ffprobe_json(linux_path, "-show_streams", "-show_format")
    streams = info["streams"]
    t.check_equal(len(streams), 1, "one stream")
    video = streams[0]
    t.check_equal(video["codec_name"], "h264", "codec")
    t.check_equal(video.get("profile"), "Constrained Baseline", "profile")
    t.check_equal((video["width"], video["height"]), (WIDTH, HEIGHT), "frame size")

    frames = zv.ffprobe_frames(linux_path)
    times = [float(f.get("pts_time", f.get("best_effort_timestamp_time"))) for f in frames]
    t.check(len(times) >= 40, f"{len(times)} frames for 2.5 s of recording")
    gaps = [b - a for a, b in zip(times, times[1:])]
    t.check(all(g > 0 for g in gaps), "frame times increase")
    t.check(max(gaps) < 0.3, f"largest gap {max(gaps):.3f} s: the 1.5 s pause is not in the timeline")
    duration = float(info["format"]["duration"])
    t.check(2.0 <= duration <= 3.4, f"duration {duration:.2f} s is the recorded time without the pause")

    picture = decoded_rgb(linux_path, len(times) // 2)
    t.check(close_to(picture[40][100], (255, 0, 0)), f"top half red, got {picture[40][100]}")
    t.check(close_to(picture[200][100], (0, 0, 255)), f"bottom half blue, got {picture[200][100]}")
    t.check(close_to(picture[120][4], (0, 255, 0)), f"green band on the left, got {picture[120][4]}")
    t.check(close_to(picture[HEIGHT // 2][WIDTH // 2], (0, 0, 0)), "the cursor's square sits on the pointer")
    t.check(close_to(picture[HEIGHT // 2 - 10][WIDTH // 2 - 10], (0, 0, 0)), "the square is centred on it")
    linux_path.unlink()


zv.run_test(main)
