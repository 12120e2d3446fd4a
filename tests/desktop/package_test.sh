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

# Started like the menu starts it, its window has the class the entry names.
$(sed -n 's/^Exec=//p' "$entry" | sed 's/ %[fFuUick]//g') &
client=$!
window=$(timeout 60 xdotool search --sync --all --pid "$client" --name '^Echoquill$' | head -n 1)
xprop -id "$window" WM_CLASS | grep -q ", \"$(sed -n 's/^StartupWMClass=//p' "$entry")\"\$"
kill "$client"; wait "$client" || true; client=''

"${apt[@]}" remove echoquill >/dev/null
for f in "${files[@]}"; do if [ -e "$f" ]; then echo "$f is left after removal" >&2; exit 1; fi; done
