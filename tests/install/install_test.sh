#!/usr/bin/env bash
# Installs the build into a temporary prefix and runs both programs from there; the Debian
# package of the build must pass lintian --fail-on error.
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
for f in bin/sonavel bin/sonavel-train bin/sonavel-recognize share/icons/hicolor/32x32/apps/sonavel.png \
         share/man/man1/sonavel.1.gz share/man/man1/sonavel-train.1.gz \
         share/man/man1/sonavel-recognize.1.gz; do
  [ -s "$prefix/$f" ] || fail "$f is not installed"
done
# The desktop program looks for note_symbol.txt in <exe dir>/../share/sonavel.
cmp "$prefix/share/sonavel/note_symbol.txt" "$source_dir/res/note_symbol.txt" || fail "note_symbol.txt"
desktop-file-validate "$prefix/share/applications/sonavel.desktop" || fail "desktop entry"

# From a folder of its own, so nothing of the build tree is picked up.
mkdir "$prefix/work"
cd "$prefix/work"
[[ $("$prefix/bin/sonavel-train" --version) =~ ^sonavel-train\ [0-9]+\.[0-9]+\.[0-9]+$ ]] ||
  fail "sonavel-train --version"
python3 "$source_dir/tests/golden/golden.py" "$prefix/bin/sonavel-train" \
  "$source_dir/tests/data/golden" tones || fail "the installed sonavel-train differs"
# The installed recogniser on a file the installed trainer has written.
"$prefix/bin/sonavel-recognize" --patterns "$source_dir/tests/data/golden/tones/default_pattern.dat" \
  --input "$source_dir/res/demo.wav" --json notes.json >notes.txt || fail "sonavel-recognize"
python3 -c 'import json, sys; json.load(open(sys.argv[1]))' notes.json || fail "sonavel-recognize --json"
{ xvfb-run -a "$prefix/bin/sonavel" --help 2>&1 || true; } | grep -q -- --input || fail "sonavel --help"

for page in sonavel sonavel-train sonavel-recognize; do
  gzip -dc "$prefix/share/man/man1/$page.1.gz" >"$page.1"
  warnings=$(groff -man -Tutf8 -ww -z "$page.1" 2>&1)
  [ -z "$warnings" ] || fail "$page.1 renders with warnings: $warnings"
done

if [ -f "$build_dir/CPackConfig.cmake" ]; then
  "$(dirname "$cmake_exe")/cpack" --config "$build_dir/CPackConfig.cmake" -B "$prefix/package" \
    >/dev/null || fail "cpack could not build the package"
  lintian --fail-on error "$prefix"/package/*.deb || fail "lintian reports errors in the package"
fi
