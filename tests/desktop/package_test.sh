#!/usr/bin/env bash
# Installs the client's .deb (argument: the folder scripts/package fills), checks what it put here, starts the client
# the way its menu entry does and sees its window, then removes it: nothing is left, even when a step fails.
set -euo pipefail
trap 'echo "failed at line $LINENO: $BASH_COMMAND" >&2' ERR
installed() { dpkg-query -W -f='${Status}' echoquill 2>/dev/null | grep -q 'install ok installed'; }
if installed; then echo "echoquill is installed on this machine; this test would remove it" >&2; exit 1; fi
deb=$(realpath -e "$1"/echoquill_*.deb) app=com.echoquill.Desktop client=''
apt=(env DEBIAN_FRONTEND=noninteractive apt-get -y -q -o DPkg::Lock::Timeout=300)
trap 'kill "$client" 2>/dev/null || true; if installed; then "${apt[@]}" remove echoquill >/dev/null; fi' EXIT

# Library dependencies come from the binary; the local service is a package of its own.
depends=$(dpkg-deb -f "$deb" Depends)
[[ $depends == *libqt6core6* && $depends == *libavcodec59* ]]
dpkg-deb -c "$1"/echoquill-devserver_*.deb | grep -q ' ./usr/bin/echoquill-devserver$'
"${apt[@]}" install --no-install-recommends "$deb" >/dev/null
entry=/usr/share/applications/$app.desktop metainfo=/usr/share/metainfo/$app.metainfo.xml
files=(/usr/bin/echoquill /usr/bin/echoquill-signin /usr/lib/echoquill/libechoquill-media.so "$entry" "$metainfo" /usr/share/icons/hicolor/scalable/apps/$app.svg)
for size in 16 22 24 32 48 64 128 256 512; do files+=(/usr/share/icons/hicolor/${size}x$size/apps/$app.png); done
ls "${files[@]}" >/dev/null
# Only the sign-in window's program loads the browser engine, and FFmpeg waits in the media module.
if readelf -d /usr/bin/echoquill | grep -q 'WebEngine\|libavcodec'; then exit 1; fi
# Debian 12's validator predates SingleMainWindow (version 1.5 of the format); any other error counts.
if desktop-file-validate "$entry" | grep 'error:' | grep -v 'key "SingleMainWindow"'; then exit 1; fi
appstreamcli validate --no-net "$metainfo" >/dev/null

# What a killed client left behind: one recorded segment in a session folder.
killedSession() {
  session="$XDG_DOCUMENTS_DIR/Echoquill Recordings/Session_2026-01-01_10-00-00-000_PKG00$1"
  mkdir -p "$session"
  sox -n -r 48000 -c 1 -b 16 "$tone" synth 3 sine 440 vol 0.3
  sndfile-convert -float32 "$tone" "$session/mic_track_000.caf"
}
# From any working folder, with no build tree to fall back on; the client's log goes to $log.
startClient() { (cd / && exec $(sed -n 's/^Exec=//p' "$entry" | sed 's/ %[fFuUick]//g') >"$log") & client=$!; }
untilJournalSays() { timeout 120 bash -c 'until grep -qs "$2" "$1/journal.json"; do sleep 0.2; done' _ "$session" "$1"; }
tone=$(mktemp --suffix=.wav) log=$(mktemp)

# Started like the menu starts it, its window has the class the entry names; the installed client exports a
# killed recording with its own media module.
killedSession 1
startClient
window=$(timeout 60 xdotool search --sync --all --pid "$client" --name '^Echoquill$' | head -n 1)
xprop -id "$window" WM_CLASS | grep -q ", \"$(sed -n 's/^StartupWMClass=//p' "$entry")\"\$"
untilJournalSays upload_track.m4a
[ "$(ffprobe -v error -show_entries stream=codec_name -of csv=p=0 "$session/upload_track.m4a")" = aac ]
kill "$client"; wait "$client" || true; client=''
rm -rf "$session"

# With its media module broken, the export fails with a clear error, and the recording stays to be tried again.
: >/usr/lib/echoquill/libechoquill-media.so
killedSession 2
startClient
untilJournalSays "No audio file produced"
grep -q "Mic export failed: .*the media module could not be loaded: .*libechoquill-media.so" "$log"
ls "$session/mic_track_000.caf" >/dev/null
kill "$client"; wait "$client" || true; client=''
rm -rf "$session" "$tone" "$log"

"${apt[@]}" remove echoquill >/dev/null
for f in "${files[@]}"; do if [ -e "$f" ]; then echo "$f is left after removal" >&2; exit 1; fi; done
