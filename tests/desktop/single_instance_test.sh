#!/bin/bash
# One client per session, living on without its window: --background starts with the widget only, a second
# launch hands over and exits while the first raises its window, closing the window hides it (the process
# and the widget stay), Ctrl+Q quits; without a bus a second client refuses to start.
set -euo pipefail
client=$1 log=$(mktemp)
fail() { echo "FAIL: $*" >&2; cat "$log" >&2; exit 1; }
# The client's visible window titled exactly $1 (xdotool's own --name also matches other windows of the pid).
shown() {
    local w
    for w in $(xdotool search --onlyvisible --pid "$first" "" 2>/dev/null); do
        [[ $(xdotool getwindowname "$w") == "$1" ]] && echo "$w"
    done
    true
}
wait_for() { for _ in $(seq 300); do eval "$2" && return; sleep 0.1; done; fail "$1"; }

"$client" --background >"$log" 2>&1 & first=$!
trap 'kill "$first" 2>/dev/null || true' EXIT
wait_for "the background client's widget" '[[ -n $(shown "Echoquill recording widget") ]]'
# The main window would have been mapped when it loaded, before the widget that shows once launching is done.
[[ -z $(shown "Echoquill") ]] || fail "--background showed the main window"
timeout 20 "$client" >>"$log" 2>&1 || fail "the second launch did not hand over and exit 0"
wait_for "the first client to raise its window" '[[ -n $(shown "Echoquill") ]]'

xdotool windowactivate --sync "$(shown "Echoquill")" key --clearmodifiers alt+F4
wait_for "the closed window to hide" '[[ -z $(shown "Echoquill") ]]'

timeout 20 "$client" >>"$log" 2>&1 || fail "the second launch did not hand over"
wait_for "the first client's window again" '[[ -n $(shown "Echoquill") ]]' # it ran on: shown() asks its pid
[[ -n $(shown "Echoquill recording widget") ]] || fail "closing the window ended the widget"
xdotool windowactivate --sync "$(shown "Echoquill")" key --clearmodifiers ctrl+q
status=0; timeout 30 tail --pid="$first" -f /dev/null || fail "Ctrl+Q did not quit"
wait "$first" || status=$?
[[ $status == 0 ]] || fail "the client ended with status $status"

# Without a session bus the lock file alone keeps a second client out, and the first runs on.
nobus=(env DBUS_SESSION_BUS_ADDRESS=unix:path=$log.nobus)
"${nobus[@]}" "$client" --background >"$log" 2>&1 & first=$!
wait_for "the widget of the client without a bus" '[[ -n $(shown "Echoquill recording widget") ]]'
if said=$(timeout 20 "${nobus[@]}" "$client" 2>&1 >/dev/null); then fail "a second client started without a bus"; fi
[[ $said == *"Echoquill is already running (another instance holds $XDG_RUNTIME_DIR/echoquill.lock)."* ]] \
    || fail "the second client said: $said"
# The lock is still held after the refusal, and only a running client holds it; asked to, that client quits cleanly.
flock -n "$XDG_RUNTIME_DIR/echoquill.lock" true && fail "the first client without a bus ended"
kill -TERM "$first"; wait "$first" || fail "the first client without a bus ended with status $?"
