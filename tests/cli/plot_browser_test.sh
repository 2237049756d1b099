#!/usr/bin/env bash
# sonavel-train --plot seen in a browser: a short recording of three tones is trained with
# --plot, then index.html is loaded in headless Chromium. The page must show one figure per
# note pattern dialog, every picture must load, and the console must stay free of errors.
# Usage: plot_browser_test.sh SONAVEL_TRAIN PYTHON3. Exits 77 (skipped) without Chromium.
set -euo pipefail

train="$1"
python="${2:-python3}"

browser=""
for candidate in chromium chromium-browser; do
  if command -v "$candidate" >/dev/null 2>&1; then
    browser="$candidate"
    break
  fi
done
if [ -z "$browser" ]; then
  echo "SKIP: Chromium is not installed (Debian package 'chromium'; scripts/install-deps adds it)"
  exit 77
fi

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

# 0.3 s of silence, then three decaying one-second tones each followed by 0.7 s of silence.
"$python" - "$work/in.wav" <<'PY'
import math, struct, sys, wave
rate = 11025
samples = [0] * int(0.3 * rate)
for hz in (262.0, 330.0, 392.0):
    for k in range(rate):
        t = k / rate
        v = 6000 * math.exp(-3 * t) * (math.sin(2 * math.pi * hz * t)
                                       + 0.4 * math.sin(4 * math.pi * hz * t))
        samples.append(int(round(v)))
    samples += [0] * int(0.7 * rate)
with wave.open(sys.argv[1], "wb") as w:
    w.setnchannels(1)
    w.setsampwidth(2)
    w.setframerate(rate)
    w.writeframes(struct.pack("<%dh" % len(samples), *samples))
PY

"$train" --input "$work/in.wav" --first C4 --last C6 --out "$work/out" \
  --trace "$work/trace.jsonl" --plot "$work/plot" >/dev/null
dialogs=$(wc -l <"$work/trace.jsonl")
if [ "$dialogs" -lt 1 ]; then
  echo "FAIL: the run opened no note pattern dialog"
  exit 1
fi

# The DOM once scripts and images have settled. A script marks every picture that loaded
# with a known size, so that a missing or broken SVG shows.
cat >>"$work/plot/index.html" <<'HTML'
<script>
window.addEventListener("load", () => {
  for (const img of document.images) {
    if (img.complete && img.naturalWidth > 0) img.setAttribute("data-loaded", "yes");
    else console.error("picture did not load: " + img.src);
  }
});
</script>
HTML

profile="$work/profile"
run_browser() {
  timeout 120 "$browser" --headless --disable-gpu --no-sandbox --no-first-run \
    --user-data-dir="$profile" --allow-file-access-from-files --virtual-time-budget=5000 \
    --enable-logging=stderr --v=0 "$@" 2>>"$work/browser.log"
}
run_browser --dump-dom "file://$work/plot/index.html" >"$work/dom.html"

figures=$(grep -o '<figure' "$work/dom.html" | wc -l)
loaded=$(grep -o 'data-loaded="yes"' "$work/dom.html" | wc -l)
status=0
if [ "$figures" -ne "$dialogs" ]; then
  echo "FAIL: $figures figures in the page for $dialogs dialogs"
  status=1
fi
if [ "$loaded" -ne "$dialogs" ]; then
  echo "FAIL: $loaded of $dialogs pictures loaded"
  status=1
fi
for n in $(seq 1 "$dialogs"); do
  name=$(printf 'dialog-%03d.svg' "$n")
  if ! grep -q "src=\"$name\"" "$work/dom.html"; then
    echo "FAIL: the page does not show $name"
    status=1
  fi
done
# Console messages reach the log as ":CONSOLE:" lines without their level; the page itself
# writes nothing to the console, so any such line is an error.
if grep -q 'CONSOLE' "$work/browser.log"; then
  echo "FAIL: console errors:"
  grep -E 'CONSOLE' "$work/browser.log"
  status=1
fi
if [ "$status" -eq 0 ]; then
  echo "OK: $dialogs dialogs, $figures figures, all pictures loaded, no console errors"
fi
exit "$status"
