#!/bin/sh
# `pallix --help` answers without a display, and an unknown option is named
# with exit status 2. Run in a home of its own, without any display.
app=$1
scratch=$(mktemp -d) || exit 1
trap 'rm -rf "$scratch"' EXIT
fail() { echo "FAIL: $*"; for f in stdout stderr; do echo "--- $f"; cat "$scratch/$f"; done; exit 1; }
run() {
    env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM HOME="$scratch" XDG_RUNTIME_DIR="$scratch" \
        "$app" "$@" >"$scratch/stdout" 2>"$scratch/stderr"
}

run --help
rc=$?
[ "$rc" -eq 0 ] || fail "--help exited with $rc"
grep -q -- '--toggle' "$scratch/stdout" || fail "--help does not list --toggle"

run --toggle --no-such-option
rc=$?
[ "$rc" -eq 2 ] || fail "an unknown option exited with $rc"
grep -q -- '--no-such-option' "$scratch/stderr" || fail "the unknown option is not named"
[ ! -s "$scratch/stdout" ] || fail "an unknown option printed on stdout"
echo "ok"
