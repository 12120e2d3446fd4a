#!/usr/bin/python3
"""The road of one recording, walked by a user of the real client.

Runs inside a network namespace of its own, so the local service can take the
port the client's build settings point at without meeting anything else on
this machine. Inside the test desktop (display with a window manager, sound
server with null sinks, keyring) it starts the service, launches the client
and then only clicks and types: sign in by e-mail code, meet a Zoom window,
record ten seconds of speech and a tone, stop, watch the note come in and open
it, quit, start again. Screenshots of every step land in the artifacts folder;
a failure names the step that broke."""

import argparse
import json
import os
import re
import shutil
import subprocess
import sys
import time
import traceback

import pyatspi

sys.dont_write_bytecode = True  # keeps the source folder clean
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from desktop import (Client, Failure, Hands, MeetingWindow, Service, Sound, decode, pick,  # noqa: E402
                     rms, screenshot, wait_for)

MAIN = "Echoquill"
WIDGET = "Echoquill recording widget"

EMAIL = "e2e-user@echoquill.test"
PROCESSING_SECONDS = 3
RECORD_SECONDS = 10
STAGES = ["UPLOADING…", "SAVING…", "PROCESSING…", "TRANSCRIBING AUDIO…", "GENERATING MEETING NOTES…", "READY"]


class Road:
    def __init__(self, args):
        self.args = args
        self.out = args.artifacts
        shutil.rmtree(self.out, ignore_errors=True)
        os.makedirs(self.out)
        self.hands = Hands()
        self.service = None
        self.client = None
        self.meeting = None
        self.step_no = 0
        self.step_name = ""

    # --- bookkeeping ------------------------------------------------------

    def step(self, name):
        self.step_no += 1
        self.step_name = name
        self.started = time.monotonic()
        print(f"[e2e] step {self.step_no}: {name}", flush=True)

    def shot(self, label):
        screenshot(os.path.join(self.out, f"{self.step_no:02d}-{label}.png"))

    def done(self, label):
        self.shot(label)
        print(f"[e2e]   ok in {time.monotonic() - self.started:.1f} s", flush=True)

    def requests(self, method, pattern):
        return [r for r in self.service.requests() if r["method"] == method and re.fullmatch(pattern, r["path"])]

    def launch(self, run_no):
        self.client = Client(self.args.client, os.path.join(self.out, f"client-{run_no}.log"))

    def in_main(self, what, name, timeout, role=None):
        return self.hands.wait_one(self.client.pid, what, name, timeout, role, window=MAIN)

    def in_widget(self, what, name, timeout, role=None):
        return self.hands.wait_one(self.client.pid, what, name, timeout, role, window=WIDGET)

    def home_shown(self):
        """The main application with its home screen, not the sign-in screen."""
        nodes = self.hands.showing(self.client.pid, MAIN)
        return (pick(nodes, "Home", "heading")
                and any(n.acc.getState().contains(pyatspi.STATE_SELECTED) for n in pick(nodes, "Home", "page tab"))
                and not pick(nodes, "you@company.com"))

    def quit_client(self):
        self.hands.close_window(self.client.pid, MAIN)
        status = self.client.wait_exit(30)
        if status != 0:
            raise Failure(f"the client ended with status {status}:\n{self.client.tail()}")
        script_errors = [l for l in self.client.lines() if re.match(r"qrc:/.*(TypeError|ReferenceError)", l)]
        if script_errors:
            raise Failure("the client's interface ran into script errors:\n" + "\n".join(script_errors))

    # --- the road ---------------------------------------------------------

    def walk(self):
        self.service = Service(self.args.service, self.args.port, PROCESSING_SECONDS,
                               os.path.join(self.out, "service.log"))
        self.sign_in()
        self.meet()
        self.record()
        self.stop_and_follow()
        self.restart()

    def sign_in(self):
        self.step("sign in by e-mail code")
        self.launch(1)
        email = self.in_main("the sign-in screen's e-mail field", "you@company.com", 60)
        self.shot("sign-in")
        self.hands.click(email)
        self.hands.type_text(EMAIL)
        wait_for(f"the e-mail field to hold {EMAIL}", lambda: email.text() == EMAIL, 10)
        self.hands.click(self.in_main("the Send code button", "Send code", 5, role="push button"))

        code = wait_for("the service to issue a one-time code", lambda: self.service.otp_code(EMAIL), 20)
        self.hands.click(self.in_main("the code field", "000000", 20))
        self.hands.type_text(code)
        # Six digits verify by themselves; no button press.
        wait_for("the home screen after the code", self.home_shown, 30)
        verified = [json.loads(r["body"]) | {"status": r["status"]}
                    for r in self.requests("POST", "/api/desktop/auth/otp")]
        if {"step": "verify", "email": EMAIL, "otpCode": code, "status": 200} not in verified:
            raise Failure(f"the service verified no code {code} for {EMAIL}: {verified}")
        self.done("home")

    def meet(self):
        self.step('a "Zoom Meeting" window brings the widget to "MEETING DETECTED"')
        self.in_widget("the widget's idle Record button", "Record", 30, role="push button")
        if self.hands.find(self.client.pid, "MEETING DETECTED", window=WIDGET):
            raise Failure("the widget offers a meeting before any meeting window is open")
        self.meeting = MeetingWindow("Zoom Meeting", "zoom")
        self.in_widget("MEETING DETECTED on the widget", "MEETING DETECTED", 15)
        self.in_widget("the meeting's name on the widget", "Zoom Meeting", 5)
        self.done("meeting-detected")

    def record(self):
        self.step(f"record {RECORD_SECONDS} s of speech and a tone")
        sound = Sound(self.out, RECORD_SECONDS)
        self.hands.click(self.in_widget("the widget's Record button", "Record", 5, role="push button"))
        self.in_widget("REC on the widget", "REC", 15)
        self.in_widget("the widget's stop button", "Stop recording", 5)
        sound.play()
        self.shot("recording")
        elapsed = self.in_widget("the elapsed time", re.compile(r"\d+:\d\d"), 5)
        minutes, seconds = map(int, elapsed.name.split(":")[-2:])
        if minutes * 60 + seconds < RECORD_SECONDS:
            raise Failure(f"the widget counts {elapsed.name} after {RECORD_SECONDS} s of sound")
        self.done("recorded")

    def stop_and_follow(self):
        self.step("stop: two blobs and one notify reach the service; the note comes in and opens")
        self.hands.click(self.in_widget("the widget's stop button", "Stop recording", 5))
        self.in_widget('"Saved" on the widget', "Saved", 2)
        self.meeting.close()
        self.meeting = None

        # Straight to the meetings screen, where the recording waits as a processing card.
        self.hands.click(self.in_main("the sidebar's Meetings item", "Meetings", 10, role="page tab"))
        self.in_main("the Meetings heading", "Meetings", 10, role="heading")
        seen = []

        def card_reached_ready():
            cards = [n for n in self.hands.showing(self.client.pid, MAIN)
                     if n.role == "panel" and (n.description in STAGES or n.description.startswith("FAILED: "))]
            if not cards:
                return False
            status = cards[0].description
            if not seen or seen[-1] != status:
                seen.append(status)
                print(f"[e2e]   processing card: {status}", flush=True)
                self.shot("card-" + status.split(":")[0].strip("…").replace(" ", "-").lower())
            if status.startswith("FAILED: "):
                raise Failure(f"the processing card says {status!r}")
            return status == "READY"

        # The client follows the note on its own timetable: 2 s, 20 s, then every 10 s.
        try:
            wait_for('the processing card to reach "Ready"', card_reached_ready, 120, interval=0.3)
        except Failure as e:
            raise Failure(f"{e}; the card showed: {' → '.join(seen) or 'nothing'}") from None
        order = [STAGES.index(s) for s in seen]
        if order != sorted(order):
            raise Failure("the processing card went backwards: " + " → ".join(seen))

        notify = self.requests("POST", "/api/desktop/meeting-notes")
        blobs = self.requests("PUT", r"/blob/recordings/.+")
        tokens = self.requests("POST", "/api/desktop/meeting-notes/upload-token")
        if len(blobs) != 2 or len(notify) != 1 or len(tokens) != 2:
            raise Failure(f"expected 2 client tokens, 2 blobs and 1 notify; the service got {len(tokens)}, "
                          f"{len(blobs)} and {len(notify)}")
        bad = [f"{r['method']} {r['path']} → {r['status']}" for r in blobs + notify + tokens if r["status"] != 200]
        if bad:
            raise Failure("the service refused part of the upload: " + "; ".join(bad))
        self.check_tracks(json.loads(notify[0]["body"]))

        token = notify[0]["headers"]["authorization"]
        notes = self.service.get_json("/api/v2/meeting-notes", headers={"Authorization": token})["data"]
        if len(notes) != 1:
            raise Failure(f"the new account should have exactly one note, the service lists {len(notes)}")
        title = notes[0]["title"]
        row = self.in_main(f"the note {title!r} in the meetings list", title, 30, role="push button")
        print(f"[e2e]   list row: {row.name} — {row.description}", flush=True)
        self.shot("note-listed")
        self.hands.click(row)
        self.in_main("the note's detail", title, 15, role="heading")
        self.in_main("the detail's back control", "Recordings", 5, role="push button")
        detail = wait_for("the client to load the note's detail",
                          lambda: self.requests("GET", rf"/api/v2/meeting-notes/{notes[0]['id']}"), 10)
        if detail[-1]["status"] != 200:
            raise Failure(f"the detail request ended with status {detail[-1]['status']}")
        self.done("note-detail")

    def check_tracks(self, body):
        """Both tracks hold what was played: speech on the microphone (RMS about 0.09), the tone on the
        system track (about 0.48); levels far apart, so swapped sources fail too."""
        for key, label, low, high in (("blob_url", "microphone", 0.02, 0.3), ("blob_url_system", "system", 0.3, 1)):
            url = body.get(key)
            if not url:
                raise Failure(f"the notify names no {label} track: {body}")
            path = os.path.join(self.out, f"{label}-track.m4a")
            self.service.download(url, path)
            samples, seconds = decode(path)
            level = rms(samples)
            print(f"[e2e]   {label} track: {seconds:.1f} s, RMS {level:.3f}", flush=True)
            if not RECORD_SECONDS - 0.5 <= seconds <= RECORD_SECONDS + 30:
                raise Failure(f"the {label} track lasts {seconds:.1f} s for {RECORD_SECONDS} s of sound")
            if not low <= level <= high:
                raise Failure(f"the {label} track's level is RMS {level:.4f}, not between {low} and {high}")

    def restart(self):
        self.step("quit, start again: the session comes back without signing in")
        self.quit_client()
        self.service.clear_requests()
        self.launch(2)
        wait_for("the home screen of the restored session", self.home_shown, 60)
        me = self.requests("GET", "/api/desktop/me")
        if not me or me[-1]["status"] != 200:
            raise Failure("the restored session did not load the user from the service")
        if self.requests("POST", "/api/desktop/auth/otp"):
            raise Failure("the second start asked for a sign-in")
        self.done("restored")
        self.quit_client()

    # --- failure and cleanup ---------------------------------------------

    def report(self, error):
        print(f"[e2e] FAILED at step {self.step_no} ({self.step_name}): {error}", flush=True)
        try:
            screenshot(os.path.join(self.out, f"{self.step_no:02d}-FAILED.png"))
            if self.client and self.client.running():
                self.hands.dump(self.client.pid, os.path.join(self.out, "accessible-objects.txt"))
        except Exception as e:  # the report must not hide the failure
            print(f"[e2e] (could not save the failure's screenshot: {e})")
        if self.client:
            print("[e2e] last lines of the client:\n" + self.client.tail(), flush=True)
        print(f"[e2e] screenshots and logs: {self.out}", flush=True)

    def cleanup(self):
        if self.meeting:
            self.meeting.close()
        if self.client:
            self.client.kill()
        if self.service:
            self.service.stop()


def enter_private_network():
    """Runs this script again inside a new network namespace, then brings its loopback up."""
    if os.environ.get("ECHOQUILL_E2E_PRIVATE_NET") != "1":
        os.environ["ECHOQUILL_E2E_PRIVATE_NET"] = "1"
        # Without root, a user namespace of our own gives the right to make one.
        as_user = [] if os.geteuid() == 0 else ["--map-root-user"]
        os.execvp("unshare", ["unshare", "--net", *as_user, sys.executable, *sys.argv])
    subprocess.run(["ip", "link", "set", "lo", "up"], check=True)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--client", required=True)
    parser.add_argument("--service", required=True)
    parser.add_argument("--port", type=int, required=True, help="the port of the client's service origin")
    parser.add_argument("--artifacts", required=True)
    args = parser.parse_args()

    enter_private_network()
    road = Road(args)
    began = time.monotonic()
    try:
        road.walk()
    except Failure as e:
        road.report(e)
        return 1
    except Exception:
        road.report(traceback.format_exc())
        return 1
    finally:
        road.cleanup()
    print(f"[e2e] the whole road in {time.monotonic() - began:.1f} s; screenshots in {args.artifacts}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
