"""zvtest.py's parsing and reporting, without Wine: the e2e tests trust these."""
import struct
import subprocess
import sys
import tempfile
import textwrap
from pathlib import Path

import zvtest as zv

failures = []


def expect(condition, what):
    print(("PASS " if condition else "FAIL ") + what)
    if not condition:
        failures.append(what)


records = zv.parse_records("hwnd=0x10\ttext=a\\tb\\nc\\\\d\\x\tempty=\tk=v=w\n\nid=5\n")
expect(records == [{"hwnd": "0x10", "text": "a\tb\nc\\d\\x", "empty": "", "k": "v=w"}, {"id": "5"}],
       "parse_records: escapes, empty values, '=' inside values, blank lines")

tree = zv.menu_tree([{"path": "0", "text": "&File"}, {"path": "0/0", "text": "Open"},
                     {"path": "0/1", "text": "Sub"}, {"path": "0/1/0", "text": "Deep"},
                     {"path": "1", "text": "&Help"}])
expect([i["text"] for i in tree] == ["&File", "&Help"], "menu_tree: top level")
expect([i["text"] for i in tree[0]["items"]] == ["Open", "Sub"], "menu_tree: submenu in order")
expect(tree[0]["items"][1]["items"][0]["text"] == "Deep" and tree[1]["items"] == [], "menu_tree: nesting")

expect(zv.rect("-8,0,512,310") == (-8, 0, 512, 310) and zv.size("-8,0,512,310") == (520, 310),
       "rect and size parse negative coordinates")
expect(zv.number("0xca0000") == 0xCA0000 and zv.number("105") == 105, "number: hex and decimal")

# 2x2 bottom-up BMP: bottom row red, green; top row blue, white.
rows_bottom_up = [b"\x00\x00\xff" + b"\x00\xff\x00" + b"\x00\x00", b"\xff\x00\x00" + b"\xff\xff\xff" + b"\x00\x00"]
pixels = b"".join(rows_bottom_up)
header = b"BM" + struct.pack("<IHHI", 54 + len(pixels), 0, 0, 54) + struct.pack(
    "<IiiHHIIiiII", 40, 2, 2, 1, 24, 0, len(pixels), 2835, 2835, 0, 0)
with tempfile.TemporaryDirectory() as scratch:
    path = Path(scratch) / "t.bmp"
    path.write_bytes(header + pixels)
    bmp = zv.read_bmp(path)
    expect((bmp.width, bmp.height) == (2, 2), "read_bmp: size")
    expect([bmp.pixel(0, 0), bmp.pixel(1, 0), bmp.pixel(0, 1), bmp.pixel(1, 1)] ==
           [(0, 0, 255), (255, 255, 255), (255, 0, 0), (0, 255, 0)], "read_bmp: rows flipped to top-first, RGB order")

try:
    zv.wait_for(lambda: False, 0.2, interval=0.05, what="never")
    expect(False, "wait_for: raises after its bound")
except zv.CheckFailed as stop:
    expect("never" in str(stop), "wait_for: raises after its bound, naming what it waited for")
expect(zv.wait_for(lambda: 42, 1) == 42, "wait_for: returns the truthy value")


def run_snippet(body):
    script = "import zvtest as zv\n" + textwrap.dedent(body)
    return subprocess.run([sys.executable, "-c", script], capture_output=True, text=True, timeout=60)


passing = run_snippet("""
    def main(t):
        t.check(True, "fine")
        t.at_cleanup(lambda: print("cleaned"))
    zv.run_test(main)
""")
expect(passing.returncode == 0 and "cleaned" in passing.stdout, "run_test: exit 0 when all checks pass, cleanups run")

failing = run_snippet("""
    def main(t):
        t.at_cleanup(lambda: print("cleaned"))
        t.check_equal(1, 2, "one is two")
        t.require(False, "stop here")
        print("not reached")
    zv.run_test(main)
""")
expect(failing.returncode == 1 and "FAIL one is two: expected 2, got 1" in failing.stdout
       and "not reached" not in failing.stdout and "cleaned" in failing.stdout,
       "run_test: exit 1 on failures, require stops, cleanups still run")

empty = run_snippet("""
    zv.run_test(lambda t: None)
""")
expect(empty.returncode == 1, "run_test: a test that checked nothing fails")

crashing = run_snippet("""
    def main(t):
        t.check(True, "fine")
        raise zv.CheckFailed("driver broke")
    zv.run_test(main)
""")
expect(crashing.returncode == 1 and "FAIL driver broke" in crashing.stdout, "run_test: CheckFailed counts as failure")

print(f"{len(failures)} failed")
sys.exit(1 if failures else 0)
