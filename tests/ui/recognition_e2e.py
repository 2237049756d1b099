#!/usr/bin/env python3
"""sonavel --recognize --input of a melody under the caller's X server: Save as MIDI (keys and
chooser), read back; a bad pattern file: its box, the window still usable; no pattern file
written at exit. Usage: recognition_e2e.py SONAVEL_EXECUTABLE"""
import math, os, shutil, struct, subprocess, sys, tempfile, time, wave
from desktop_e2e import RATE, press, xdotool

PATTERNS = os.path.join(os.path.dirname(__file__), "..", "data", "golden", "scale-auto",
                        "default_pattern.dat")  # C4 ... E4
MELODY = [(0.3, 0.5, 48), (1.0, 0.4, 52), (1.6, 0.6, 50), (2.4, 0.3, 48)]  # onset, length, note


def midi_notes(data):
    """(onset in s, key) of every note-on of a one-track file of 1 ms ticks."""
    pos, tick, status, notes = 22, 0, 0, []  # past the file's header and the track's
    while pos < len(data):
        delta, byte = 0, 0x80
        while byte & 0x80:  # the variable-length time since the event before
            byte, pos = data[pos], pos + 1
            delta = delta << 7 | byte & 0x7F
        tick += delta
        if data[pos] & 0x80:  # else the status of the event before goes on
            status, pos = data[pos], pos + 1
        if status == 0xFF:  # a meta event: type, length (below 128 here), data
            pos += 2 + data[pos + 1]
            continue
        if status >> 4 == 9 and data[pos + 1] > 0:
            notes.append((tick / 1000, data[pos]))
        pos += 1 if status >> 4 in (0xC, 0xD) else 2
    return notes


def main():
    work = tempfile.mkdtemp(prefix="sonavel-recognize-e2e-")
    samples = [0] * int(3.2 * RATE)
    for onset, length, note in MELODY:  # decaying tones of three harmonics, as the scale's
        hz = 440 * 2 ** ((note - 57) / 12)
        for n in range(int(length * RATE)):
            samples[int(onset * RATE) + n] = int(6000 * math.exp(-n / RATE) * sum(
                a * math.sin(2 * math.pi * h * hz * n / RATE) for h, a in ((1, 1), (2, .4), (3, .2))))
    with wave.open(os.path.join(work, "melody.wav"), "wb") as out:
        out.setparams((1, 2, RATE, 0, "NONE", ""))
        out.writeframes(struct.pack("<%dh" % len(samples), *samples))
    shutil.copy(PATTERNS, os.path.join(work, "tones.dat"))
    open(os.path.join(work, "bad.dat"), "wb").write(b"x" * 49)
    env = dict(os.environ, HOME=work)
    wm = subprocess.Popen(["openbox", "--sm-disable"], env=env, stderr=subprocess.DEVNULL)
    time.sleep(1.0)
    failures = []
    for args in (["tones.dat", "--input", "melody.wav"], ["bad.dat"]):
        proc = subprocess.Popen([sys.argv[1], "--recognize", *args], cwd=work, env=env)
        try:
            if args[0] == "tones.dat":
                time.sleep(5.0)  # the melody is played at its own pace, 3.2 s
                press("^Recognise Notes - tones.dat$", "ctrl+s")
                press("^Save as MIDI$", "ctrl+a")
                xdotool("type", "--delay", "20", "melody")  # ".mid" is added
                xdotool("key", "Return")
                time.sleep(1.0)
            else:
                press("^Sonavel$", "Return")  # the box about the bad file
                press("^Recognise Notes$", "ctrl+o")  # the window goes on: its file chooser
                press("^Open Patterns$", "Escape")
            press("^Recognise Notes", "ctrl+w")
            if proc.wait(timeout=20) != 0:
                failures.append("sonavel %s exited with %d" % (args, proc.returncode))
        except Exception as error:
            failures.append("%s: %s" % (args, error))
            proc.kill()
    try:
        with open(os.path.join(work, "melody.mid"), "rb") as f:
            notes = midi_notes(f.read())
        if [key for _, key in notes] != [note + 12 for _, _, note in MELODY] or any(
                abs(t - onset) > 0.03 for (t, _), (onset, _, _) in zip(notes, MELODY)):
            failures.append("the MIDI file holds %s, not the melody %s" % (notes, MELODY))
    except OSError as error:
        failures.append(str(error))
    if {"default_pattern.txt", "default_pattern.dat"} & set(os.listdir(work)):
        failures.append("a pattern file was written at exit")
    wm.terminate()
    print("".join("FAIL: %s\n" % f for f in failures), end="")
    if not failures:
        shutil.rmtree(work, ignore_errors=True)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
