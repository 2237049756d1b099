#!/usr/bin/env python3
"""End to end through the desktop program: sonavel --input on a short recording of two
tones, under an X server the caller provides (xvfb-run). Answers the range and caution
dialogs and each note pattern dialog with the keyboard, presses New and Open, saves with
File > Save over an older file, closes the window through File > Exit, and checks the user
file and the files written at exit.

Usage: desktop_e2e.py SONAVEL_EXECUTABLE [SCREENSHOT_DIR]
"""

import math
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import time
import wave

RATE = 11025


def write_tones(path):
    """Two decaying harmonic tones with clear silence around them."""
    samples = [0] * int(0.5 * RATE)
    for freq in (440.0, 660.0):
        for n in range(int(0.5 * RATE)):
            t = n / RATE
            env = math.exp(-t * 6.0)
            v = sum(math.sin(2 * math.pi * freq * h * t) / h for h in (1, 2, 3))
            samples.append(int(9000 * env * v))
        samples += [0] * int(2.0 * RATE)
    with wave.open(path, "wb") as out:
        out.setnchannels(1)
        out.setsampwidth(2)
        out.setframerate(RATE)
        out.writeframes(struct.pack("<%dh" % len(samples), *samples))


def xdotool(*args, check=True):
    return subprocess.run(["xdotool", *args], capture_output=True, text=True, check=check)


def find_window(pattern, timeout):
    """Id of the first visible window whose name matches `pattern`, or None."""
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        found = xdotool("search", "--onlyvisible", "--name", pattern, check=False)
        ids = found.stdout.split()
        if ids:
            return ids[0]
        time.sleep(0.1)
    return None


def press(window, *keys):
    xdotool("windowfocus", "--sync", window, check=False)
    time.sleep(0.2)
    xdotool("key", *keys)


def choose(title, kind, path):
    """Types `path` into the file chooser titled `title` and confirms it."""
    chooser = find_window(title, 15)
    if chooser is None:
        raise RuntimeError("the %s dialog did not open" % kind)
    press(chooser, "ctrl+l")
    time.sleep(0.3)
    xdotool("type", "--delay", "20", path)
    time.sleep(0.3)
    xdotool("key", "Return")


def grab(window):
    """The window's pixels above the status bar, whose message changes when the recording ends."""
    ppm = subprocess.run(["import", "-window", window, "-depth", "8", "ppm:-"],
                         capture_output=True).stdout
    fields = ppm.split(maxsplit=4)  # P6, width, height, 255, pixels
    if len(fields) < 5:
        return ppm
    width, height = int(fields[1]), int(fields[2])
    return fields[4][:width * 3 * max(0, height - 60)]


def main():
    exe = os.path.abspath(sys.argv[1])
    shots = os.path.abspath(sys.argv[2]) if len(sys.argv) > 2 else None
    work = tempfile.mkdtemp(prefix="sonavel-e2e-")
    write_tones(os.path.join(work, "tones.wav"))
    env = dict(os.environ, NO_AT_BRIDGE="1", GSETTINGS_BACKEND="memory", HOME=work)
    os.mkdir(os.path.join(work, "sounds"))  # opened, so that GTK knows another folder
    write_tones(os.path.join(work, "sounds", "take2.wav"))
    with open(os.path.join(work, "violin.dat"), "wb") as old:
        old.write(b"older")
    errors = open(os.path.join(work, "stderr.txt"), "w+")
    # A window manager, so that focus and typed keys reach the windows as on a desktop.
    wm = subprocess.Popen(["openbox", "--sm-disable"], env=env, stderr=subprocess.DEVNULL)
    time.sleep(1.0)
    proc = subprocess.Popen([exe, "--input", "tones.wav"], cwd=work, env=env, stderr=errors)
    failures = []
    try:
        window = find_window("^Tune To Your Instrument$", 30)
        if window is None:
            raise RuntimeError("the range dialog did not open")
        # The range typed key by key: C1 ... C1#, the notes of the two tones, so that the run
        # ends with them. Tab reaches First Note, then Last Note; Return presses Ready.
        press(window, "Tab")
        for keys in ("c1", "c1#"):
            xdotool("key", "ctrl+a")
            xdotool("type", "--delay", "80", keys)
            xdotool("key", "Tab")
        xdotool("key", "Return")
        window = find_window("^Caution!$", 15)
        if window is None:
            rejected = find_window("^Input Range Error!$", 1) is not None
            raise RuntimeError("the typed range was rejected" if rejected else
                               "the caution dialog did not open")
        if find_window("korvo", 0.5) is not None:
            failures.append("the main window is shown before the caution is acknowledged")
        press(window, "Return")  # Continue  >
        for note in range(2):
            window = find_window("^Sonavel$", 20)
            if window is None:
                raise RuntimeError("note pattern dialog %d did not open" % (note + 1))
            time.sleep(0.5)
            if shots and note == 0:
                subprocess.run(["import", "-window", window, os.path.join(shots, "note-dialog.png")],
                               check=False)
            press(window, "Return")  # Next  >
            time.sleep(0.5)
            if note == 0:
                press(find_window("korvo", 10), "ctrl+n")  # New between two notes
        main = find_window("korvo", 10)
        if main is None:
            raise RuntimeError("the main window is not shown")
        time.sleep(0.5)
        if shots:
            subprocess.run(["import", "-window", main, os.path.join(shots, "main-window.png")],
                           check=False)
        # New and Open keep the window, the document, the view and the log.
        before = grab(main)
        press(main, "ctrl+n")
        time.sleep(0.5)
        if grab(main) != before:
            failures.append("File > New changed the log view")
        press(main, "ctrl+o")
        choose("^Open$", "open", os.path.join(work, "sounds", "take2.wav"))
        if find_window("^take2.wav - korvo$", 10) is None:
            failures.append("File > Open did not name the document after the file")
        # File > Save (Ctrl+S): the chooser starts in the current folder; ".dat" is appended,
        # and the question is about the file that will be written.
        press(main, "ctrl+s")
        choose("^Select a file$", "save", "violin")
        question = find_window("^Confirm Save As$", 10)
        if question is None:
            raise RuntimeError("no question before replacing violin.dat")
        press(question, "Return")  # Yes
        time.sleep(1.0)
        press(main, "alt+f")
        time.sleep(0.5)
        xdotool("key", "x")
        code = proc.wait(timeout=20)
        if code != 0:
            failures.append("sonavel exited with %d" % code)
    except Exception as error:  # report, then make sure the program goes away
        failures.append(str(error))
        proc.kill()
        proc.wait()

    data_path = os.path.join(work, "violin.dat")
    text_path = os.path.join(work, "default_pattern.txt")
    if os.path.exists(os.path.join(work, "default_pattern.dat")):
        failures.append("default_pattern.dat was written although the user saved")
    if not os.path.exists(data_path) or not os.path.exists(text_path):
        failures.append("the pattern files were not written")
    else:
        data = open(data_path, "rb").read()
        text = open(text_path, "rb").read()
        if len(data) != 108 * 48:  # all notes: the run ended at the range's last note, C1#
            failures.append("violin.dat has %d bytes, not 108 records" % len(data))
        records = [struct.unpack("<12f", data[i * 48:(i + 1) * 48]) for i in range(len(data) // 48)]
        trained = [i for i, r in enumerate(records) if any(r)]
        if trained != [12, 13]:
            failures.append("trained records %s, expected C1 and C1# (12, 13)" % trained)
        for i in trained:
            if records[i][6] != 10.0 or records[i][0] < 2:
                failures.append("record %d is not a pattern: %s" % (i, records[i]))
        if not text.startswith(b" C0:\r\n") or b" C1#:\r\n" not in text:
            failures.append("default_pattern.txt does not list the notes")
    errors.seek(0)
    log = errors.read()
    sys.stderr.write(log)
    if "Gtk-CRITICAL" in log:
        failures.append("GTK reported a fault")
    wm.terminate()
    wm.wait()
    for failure in failures:
        print("FAIL:", failure)
    if failures:
        print("files kept in", work)
    else:
        shutil.rmtree(work, ignore_errors=True)
    print("%d passed, %d failed" % (0 if failures else 1, 1 if failures else 0))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
