#!/usr/bin/env bash
# Installs the build into a temporary prefix and runs both programs from there.
# Usage: install_test.sh CMAKE BUILD_DIR SOURCE_DIR
set -euo pipefail

cmake_exe=$1
build_dir=$2
source_dir=$3

prefix=$(mktemp -d "${TMPDIR:-/tmp}/sonavel-install.XXXXXX")
trap 'rm -rf "$prefix"' EXIT

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

"$cmake_exe" --install "$build_dir" --prefix "$prefix" >/dev/null

# Everything lands where the desktop and man expect it.
for f in bin/sonavel bin/sonavel-train share/sonavel/note_symbol.txt \
         share/icons/hicolor/32x32/apps/sonavel.png share/applications/sonavel.desktop \
         share/man/man1/sonavel.1.gz share/man/man1/sonavel-train.1.gz; do
  [ -e "$prefix/$f" ] || fail "$f is not installed"
done
[ -x "$prefix/bin/sonavel" ] && [ -x "$prefix/bin/sonavel-train" ] || fail "programs not executable"

# The desktop program looks for note_symbol.txt in <exe dir>/../share/sonavel.
cmp -s "$prefix/bin/../share/sonavel/note_symbol.txt" "$source_dir/res/note_symbol.txt" ||
  fail "note_symbol.txt is not found next to the installed program"

# Run from a folder of its own, so nothing from the build tree is picked up.
work="$prefix/work"
mkdir -p "$work"
cd "$work"

version=$("$prefix/bin/sonavel-train" --version)
[[ $version =~ ^sonavel-train\ [0-9]+\.[0-9]+\.[0-9]+ ]] || fail "unexpected version: $version"

# Half a second of silence, a second of C4 with a few harmonics, then silence again.
python3 - "$work/c4.wav" <<'PY'
import math, struct, sys, wave
rate = 11025
f0 = 261.63
frames = bytearray()
for n in range(int(2.5 * rate)):
    t = n / rate
    v = 0.0
    if 0.5 <= t < 1.5:
        env = math.exp(-3.0 * (t - 0.5))
        v = env * sum(a * math.sin(2 * math.pi * f0 * k * t) for k, a in ((1, 0.6), (2, 0.25), (3, 0.1)))
    frames += struct.pack("<h", int(max(-1.0, min(1.0, v)) * 32000))
with wave.open(sys.argv[1], "wb") as w:
    w.setnchannels(1)
    w.setsampwidth(2)
    w.setframerate(rate)
    w.writeframes(bytes(frames))
PY

"$prefix/bin/sonavel-train" --input "$work/c4.wav" --first C4 --last C4 --out "$prefix/out" \
  >"$work/train.log" 2>&1 || { cat "$work/train.log" >&2; fail "sonavel-train failed"; }
[ -s "$prefix/out/default_pattern.txt" ] || fail "no default_pattern.txt written"
dat_size=$(stat -c %s "$prefix/out/default_pattern.dat")
[ "$dat_size" -gt 0 ] && [ $((dat_size % 48)) -eq 0 ] ||
  fail "default_pattern.dat has $dat_size bytes, not a whole number of 48-byte records"

# The installed desktop program starts and prints its usage.
if command -v xvfb-run >/dev/null; then
  usage=$(xvfb-run -a "$prefix/bin/sonavel" --help 2>&1 || true)
  grep -q -- "--input" <<<"$usage" || { echo "$usage" >&2; fail "sonavel --help shows no usage"; }
else
  echo "xvfb-run not found: sonavel --help not run"
fi

if command -v desktop-file-validate >/dev/null; then
  desktop-file-validate "$prefix/share/applications/sonavel.desktop" ||
    fail "the desktop entry is not valid"
else
  echo "desktop-file-validate not found (desktop-file-utils): desktop entry not validated"
fi

for page in sonavel sonavel-train; do
  # Installed compressed; rendered from a plain copy.
  file="$prefix/work/$page.1"
  gzip -dc "$prefix/share/man/man1/$page.1.gz" >"$file"
  if command -v groff >/dev/null; then
    warnings=$(groff -man -Tutf8 -ww -z "$file" 2>&1)
    [ -z "$warnings" ] || { echo "$warnings" >&2; fail "$page.1 renders with warnings"; }
    text=$(groff -man -Tutf8 -P-cbou "$file")
    grep -q "SYNOPSIS" <<<"$text" || fail "$page.1 does not render"
  elif command -v man >/dev/null; then
    text=$(MANWIDTH=80 MAN_KEEP_FORMATTING= man -l "$file" 2>/dev/null | col -b)
    grep -q "SYNOPSIS" <<<"$text" || fail "$page.1 does not render"
  else
    echo "neither groff nor man found: $page.1 not rendered"
  fi
done

# The Debian package of this build: lintian finds no error in it.
if command -v lintian >/dev/null && [ -f "$build_dir/CPackConfig.cmake" ]; then
  cpack_exe="$(dirname "$cmake_exe")/cpack"
  "$cpack_exe" --config "$build_dir/CPackConfig.cmake" -B "$prefix/package" >/dev/null ||
    fail "cpack could not build the package"
  report=$(lintian --fail-on error "$prefix"/package/*.deb 2>&1) ||
    { echo "$report" >&2; fail "lintian reports errors in the package"; }
else
  echo "lintian not found: the package was not checked"
fi

echo "install test passed"
