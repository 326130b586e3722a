"""The installer under Wine: a silent install, a start from the installed path, an install over
the running program beside an Explorer window on the recordings folder, and an uninstall that
keeps the recordings; then the update path with real parts, from 1.0.0 installed in a folder of
the user's choice and recording to 1.0.1 installed there through the downloaded installer."""
import tempfile
from pathlib import Path

import zvtest as zv
from update_server import Server
from update_test import LATEST, PROMPT, SETUP, Journey, Reply, offer, run_probe, wine

UNINSTALL_KEY = r"HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Zentrovia"


def drive_c():
    return Path(zv.env().session_env["WINEPREFIX"]) / "drive_c"


CUSTOM = r"C:\Apps\Zentrovia"


def installed(folder="Program Files/Zentrovia"):
    return drive_c() / folder


def shortcut():
    return drive_c() / "ProgramData" / "Microsoft" / "Windows" / "Start Menu" / "Programs" / "Zentrovia.lnk"


def uninstall_entry():
    lines = wine("reg", "query", UNINSTALL_KEY).stdout.splitlines()
    return {p[0]: p[-1] for p in (line.split() for line in lines) if len(p) >= 3 and p[1].startswith("REG_")}


def file_version(exe: Path):
    data = exe.read_bytes()
    at = data.find("FileVersion\0".encode("utf-16le")) + 24
    at += -at % 4                      # the value starts on a 32-bit boundary
    return data[at:data.find(b"\0\0", at) + 1].decode("utf-16le")


def uninstall(folder=installed()):
    wine(folder / "Uninstall.exe", "/S")
    zv.wait_for(lambda: not folder.exists() and not uninstall_entry(), 60, what="uninstalled")


def check_install_and_uninstall(t, setup: Path):
    t.require_equal(wine(setup, "/S").returncode, 0, "silent install exits with 0")
    exe = installed() / "Zentrovia.exe"
    t.check_equal(sorted(p.name for p in installed().iterdir()), ["COPYING.LGPLv2.1.txt", "Uninstall.exe", "Zentrovia.exe"],
                  "program, uninstaller and the sound libraries' licence installed, nothing else")
    t.check(shortcut().is_file(), "Start-menu shortcut made")
    entry = uninstall_entry()
    t.check_equal({k: entry.get(k) for k in ("DisplayName", "DisplayVersion", "Publisher")},
                  {"DisplayName": "Zentrovia", "DisplayVersion": "1.0.0", "Publisher": "Zentrovia"}, "uninstall entry")
    t.check("Zentrovia.exe" in entry.get("DisplayIcon", "") and int(entry.get("EstimatedSize", "0"), 0) > 100,
            "uninstall entry: icon and estimated size", str(entry))
    t.check_equal(file_version(exe), "1.0.0", "installed exe: version resource")
    app = zv.start_app(exe)
    t.at_cleanup(lambda: zv.stop_app(app))
    win = zv.find_window(title="zentrovia", class_name="ZENTROVIA", timeout_ms=20000)
    app.hwnd, app.pid = win["hwnd"], int(win["pid"])
    pictures = zv.env().pictures_dir / "Zentrovia"
    pictures.mkdir(parents=True, exist_ok=True)
    user = pictures.parts[-3]
    explorer = zv.start_app(drive_c() / "windows" / "explorer.exe", (f"C:\\users\\{user}\\Pictures\\Zentrovia",))
    t.at_cleanup(lambda: zv.stop_app(explorer))
    folder_window = zv.find_window(title="Zentrovia", timeout_ms=20000)
    t.require(folder_window["class"] != "ZENTROVIA", "an Explorer window titled Zentrovia", folder_window)
    explorer.hwnd = folder_window["hwnd"]
    t.require_equal(wine(setup, "/S").returncode, 0, "installing over the running program")
    t.check_equal((zv.wait_exit(app, 30), exe.is_file()), (0, True), "the running program was closed, then replaced")
    t.check_equal(zv.run_driver("state", "--hwnd", folder_window["hwnd"])[0]["exists"], "1",
                  "the Explorer window on the recordings folder stays")
    recording = zv.env().pictures_dir / "Zentrovia" / "kept-by-uninstall.mp4"
    recording.parent.mkdir(parents=True, exist_ok=True)
    recording.write_bytes(b"recording")
    uninstall()
    t.check(not shortcut().exists(), "uninstall removes the program folder, its entry and the shortcut")
    t.check(recording.exists(), "uninstall keeps the recordings")
    recording.unlink()


def press_through_setup(t):
    """Presses Next, Install and Finish; the texts of the pages' controls."""
    setup = zv.find_window(title="Zentrovia 1.0.1 Setup ", timeout_ms=30000)  # Modern UI's blank subcaption
    texts = set()
    def next_page():
        if zv.run_driver("state", "--hwnd", setup["hwnd"])[0]["exists"] != "1":
            return True
        children = zv.try_driver("children", "--hwnd", setup["hwnd"]).records
        for page in [c for c in children if c["class"] == "#32770"]:
            texts.update(c["text"] for c in zv.try_driver("children", "--hwnd", page["hwnd"]).records)
        buttons = [c for c in children if c.get("id") == "1"]
        if buttons and buttons[0].get("enabled", "1") == "1":
            zv.run_driver("click", "--hwnd", buttons[0]["hwnd"])
        return False
    zv.wait_for(next_page, 90, interval=1, what="the 1.0.1 setup pages done")
    return texts


def check_update_path(t, server, setup100: Path, setup101: Path):
    t.require_equal(wine(setup100, "/S", "/D=" + CUSTOM).returncode, 0, "1.0.0 installed in a folder of the user's")
    folder = installed("Apps/Zentrovia")
    late = offer()
    late.stall_at, late.stall = 0, 4
    server.routes[SETUP] = Reply(setup101.read_bytes())
    recordings = zv.env().pictures_dir / "Zentrovia"
    before = set(recordings.glob("*.mp4"))
    j = Journey(t, server, late, exe=folder / "Zentrovia.exe")
    zv.run_driver("command", "--hwnd", j.hwnd, "--id", 1001)
    j.box(PROMPT, "ok")
    t.check_equal(zv.wait_exit(j.app, 60), 0, "1.0.0 ends with 0 once the installer is downloaded")
    asked = server.served.count(LATEST)
    texts = press_through_setup(t)
    t.check(CUSTOM + "\\" in texts, "the update offers the folder 1.0.0 was installed in", texts)
    t.check(not any("Run" in text for text in texts), "the finish page offers no start as administrator", texts)
    kept = sorted(set(recordings.glob("*.mp4")) - before)
    t.require(len(kept) == 1, "the recording of 1.0.0 was kept")
    t.check_equal([s["codec_name"] for s in zv.ffprobe_json(kept[0])["streams"]], ["h264"],
                  "the recording of 1.0.0 was finalized")
    t.check_equal((file_version(folder / "Zentrovia.exe"), installed().exists()), ("1.0.1", False),
                  "1.0.1 replaced 1.0.0 in the user's folder")
    t.check_equal(uninstall_entry().get("DisplayVersion"), "1.0.1", "uninstall entry says 1.0.1")
    t.check_equal(run_probe("read").get("stored"), "1.0.1", "AcknowledgedVersion is 1.0.1")
    j = Journey(t, server, late, exe=folder / "Zentrovia.exe")
    zv.wait_for(lambda: server.served.count(LATEST) > asked, 30, what="1.0.1 asks for updates")
    t.check(zv.try_driver("msgbox", "--title", PROMPT, "--timeout-ms", 4000).code != 0, "1.0.1 offers nothing")
    zv.stop_app(j.app)
    uninstall(folder)


def main(t):
    build = zv.env().build_dir
    here = build / "tests" / "update"
    server = Server(Path(tempfile.mkdtemp(prefix="zv-installer-")))
    t.at_cleanup(server.stop)
    t.at_cleanup(lambda: run_probe("check", "-"))
    t.at_cleanup(lambda: [uninstall(f) for f in (installed(), installed("Apps/Zentrovia")) if (f / "Uninstall.exe").exists()])
    check_install_and_uninstall(t, build / "Zentrovia-Setup.exe")
    check_update_path(t, server, here / "Zentrovia-Setup-1.0.0.exe",
                      here / "release-1.0.1" / "Zentrovia-Setup.exe")


zv.run_test(main)
