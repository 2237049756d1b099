#!/usr/bin/env python3
"""Golden runs: generated recordings trained with --trace (one with --plot); log.txt, trace,
pattern files and pictures must equal DATA_DIR/<case>/, and --show must list the .dat as the
.txt (a cut one: whole records, exit 1). --regenerate rewrites them: read the diff first.
Usage: golden.py SONAVEL_TRAIN DATA_DIR [--regenerate] [CASE ...]"""
import math, os, shutil, subprocess, sys, tempfile, wave

RATE = 11025


def sine(x):  # Taylor series for |x| < 2: plain arithmetic, the same samples everywhere
    total = term = x
    for n in range(1, 14):
        term *= -x * x / ((2 * n) * (2 * n + 1))
        total += term
    return total


def quiet(seconds): return [0] * int(seconds * RATE)


def tone(hz, seconds, amp=6000.0, decay=3.0):
    """A decaying tone with two weaker harmonics, each a phasor turned once a sample."""
    parts = [[a, 1.0, 0.0, sine(math.pi / 2 - w), sine(w)]
             for a, w in ((a, 2 * math.pi * h * hz / RATE) for h, a in ((1, 1), (2, .4), (3, .2)))]
    out, env = [], amp
    for _ in range(int(seconds * RATE)):
        out.append(round(env * sum(p[0] * p[2] for p in parts)))
        for p in parts:
            p[1], p[2] = p[1] * p[3] - p[2] * p[4], p[2] * p[3] + p[1] * p[4]
        env *= 1.0 - decay / RATE
    return out


def noise(seconds, amp, x=42):  # a seeded LCG
    s = []
    for _ in range(int(seconds * RATE)):
        x = (x * 1103515245 + 12345) % 2**31
        s.append((x >> 8) % (2 * amp + 1) - amp)
    return s


TONES = quiet(0.3) + sum((tone(hz, 1.0) + quiet(0.7) for hz in range(300, 601, 50)), [])
SUSTAINED = quiet(0.3) + tone(400.0, 2.0, decay=0.0) + quiet(1.0)
ENDING = (quiet(0.3) + tone(400.0, 1.5, decay=0.5))[:35 * 512]
CLICKS = quiet(0.5) + sum(([20000, -20000] * (4 + 40 * k) + quiet(0.4) for k in range(8)), [])
LATE = quiet(101.3) + tone(400.0, 1.0) + quiet(1.0)  # completes with buffer 2204, at 102.4 s
TAIL = (TONES[:2 * RATE] + tone(500.0, 0.6))[:50 * 512] + tone(500.0, 511 / RATE, 9000.0, 0.0)
CASES = {  # recording, options; a loud last partial buffer (tail) is dropped
    "tones": (TONES, "--first C4 --last E4 --think 0.5 --plot plot/p --choices",
              " R, n ,N,x,b,B,d"),
    "sustained": (SUSTAINED, "--first C4 --last B4"),
    "sustained-think": (SUSTAINED, "--first C4 --last B4 --think 2.5"),
    "ending": (ENDING, "--first C4"),
    "ending-no-pad": (ENDING, "--first C4 --pad 0"),
    "noise": (quiet(2.0) + noise(3.0, 300) + quiet(1.0), "--pad 0 --first c4x --last c4#"),
    "short": ([5000] * 511, "--pad 0"),
    "clicks": (CLICKS, "--first A3 --last C5"),
    "ring-end": (quiet(20.0) + tone(300.0, 1.0) + quiet(1.0), "--first C4 --last C4"),
    "tick-tie": (LATE[:2205 * 512], "--first C4 --pad 0"),
    "tick-early": (LATE[:2204 * 512], "--first C4 --pad 0"),
    "tail": (TAIL, "--first C4 --pad 0"),
    "scale-auto": (quiet(0.3) + sum((tone(440 * 2 ** ((k - 57) / 12), 1.5, decay=0.0) + quiet(0.7)
                                     for k in range(48, 53)), []), "--first C4 --last E4", "--choices=auto"),
}


def run(train, name, work):
    samples, args, *more = CASES[name]
    wav, out = os.path.join(work, name + ".wav"), os.path.join(work, name)
    with wave.open(wav, "wb") as w:
        w.setparams((1, 2, RATE, 0, "NONE", ""))
        w.writeframes(b"".join(v.to_bytes(2, "little", signed=True) for v in samples))
    os.makedirs(out)
    cmd = [train, "--input", wav, "--out", ".", "--trace", "trace.jsonl"] + args.split() + more
    r = subprocess.run(cmd, cwd=out, capture_output=True)
    with open(os.path.join(out, "log.txt"), "wb") as f:
        f.write(r.stdout)
    with open(os.path.join(out, "default_pattern.dat"), "rb") as f, open(wav, "wb") as cut:
        cut.write(f.read()[:50 * 48 + 7])
    text = open(os.path.join(out, "default_pattern.txt"), "rb").read()
    full = subprocess.run([train, "--show", "default_pattern.dat"], cwd=out, capture_output=True)
    part = subprocess.run([train, "--show", wav], capture_output=True)
    if (r.returncode, r.stderr, full.returncode, full.stdout, full.stderr, part.returncode,
            part.stdout) != (0, b"", 0, text, b"", 1, b"".join(text.splitlines(True)[:150])) \
            or b"2407 bytes, not a multiple of 48" not in part.stderr:
        sys.exit(f"{name}: exit {r.returncode}, {r.stderr}; --show: {full.stderr} {part.stderr}")
    return out


train, data = os.path.abspath(sys.argv[1]), sys.argv[2]
names = [a for a in sys.argv[3:] if a != "--regenerate"] or list(CASES)
failed = []
with tempfile.TemporaryDirectory() as work:
    for name in names:
        out, want = run(train, name, work), os.path.join(data, name)
        if "--regenerate" in sys.argv:
            shutil.rmtree(want, ignore_errors=True)
            shutil.copytree(out, want)
        elif subprocess.run(["diff", "-r", want, out]).returncode:
            failed.append(name)
sys.exit("FAILED: " + " ".join(failed) if failed else print(f"{len(names)} golden runs equal"))
