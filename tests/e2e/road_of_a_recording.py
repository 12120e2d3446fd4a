#!/usr/bin/python3
"""The road of one recording, walked by a user of the real client in a network namespace and test desktop of its own:
sign in by e-mail code, meet a Zoom window, record speech and a tone, stop, open the note, quit, start again; record
once more, kill the client and upload the interrupted recording at the next start. Controls are found in the
accessibility tree and pressed with real pointer and keyboard events; every step leaves a screenshot."""

import argparse, array, json, os, re, shutil, struct, subprocess, sys, time, traceback, urllib.error, urllib.request

import pyatspi
from pathlib import Path
from Xlib import X, Xatom, display

MAIN = "Echoquill"
WIDGET = "Echoquill recording widget"
EMAIL = "e2e-user@echoquill.test"
PROCESSING_SECONDS = 3
RECORD_SECONDS = 10
KILL_TONE_SECONDS = 4
BUFFER_FRAMES = 4096  # the capture buffer: a killed recording may lose at most this much of what reached the disk
STAGES = ["UPLOADING…", "SAVING…", "PROCESSING…", "TRANSCRIBING AUDIO…", "GENERATING MEETING NOTES…", "READY"]

# Direct connections only: a proxy from the environment is unreachable here.
_http = urllib.request.build_opener(urllib.request.ProxyHandler({}))


class Failure(Exception):
    """A check that did not hold, in words a reader understands."""


def wait_for(what, probe, timeout, interval=0.2):
    deadline = time.monotonic() + timeout
    while not (value := probe()):
        fail_if(time.monotonic() > deadline, f"timed out after {timeout:g} s waiting for {what}")
        time.sleep(interval)
    return value


def fail_if(condition, message):
    if condition:
        raise Failure(message)


def run(args, timeout=60):
    return subprocess.run(args, check=True, timeout=timeout, capture_output=True)


def written_frames(session):
    rate, frames = 0, 0
    for name in sorted(n for n in os.listdir(session) if n.startswith("mic_track_")):
        path = os.path.join(session, name)
        with open(path, "rb") as f:
            head, size, pos, channels = f.read(65536), os.path.getsize(path), 8, 1
        while pos + 12 <= len(head):
            kind, (length,) = head[pos:pos + 4], struct.unpack_from(">q", head, pos + 4)
            if kind == b"desc":
                rate = struct.unpack_from(">d", head, pos + 12)[0]
                channels = struct.unpack_from(">I", head, pos + 36)[0]
            elif kind == b"data":
                frames += (size - pos - 16) // (4 * channels)
                break
            pos += 12 + length
    return int(rate), frames


def sessions():
    """The session folders of the recordings made so far."""
    folder = os.path.join(os.environ["XDG_DOCUMENTS_DIR"], "Echoquill Recordings")
    return {e.path for e in os.scandir(folder) if e.is_dir()} if os.path.isdir(folder) else set()


def new_session(before):
    return wait_for("a new session", lambda: next(iter(sessions() - before), None), 10)


class Child:  # a child process, its output kept in a file

    def __init__(self, args, log_path, env=None):
        self.log_path = log_path
        self._log = open(log_path, "w")
        self.process = subprocess.Popen(args, stdout=self._log, stderr=subprocess.STDOUT, env=env)
        self.pid = self.process.pid

    def lines(self):
        with open(self.log_path, errors="replace") as f:
            return f.read().splitlines()

    def tail(self):
        return "\n".join(self.lines()[-40:])

    def end(self):
        if self.process.poll() is None:
            self.process.terminate()
            try:
                self.process.wait(10)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        self._log.close()


class Service(Child):

    def __init__(self, binary, port, log_path):
        # --log-secrets: the checks below read the token the client signed with.
        super().__init__([binary, "--port", str(port), "--ephemeral", "--dev-controls", "--log-secrets",
                          "--processing-seconds", str(PROCESSING_SECONDS)], log_path)
        self.origin = f"http://127.0.0.1:{port}"
        listening = wait_for("the local service to print its listening line", lambda: next(
            (l for l in self.lines() if l.startswith("[devserver] listening on")), self.process.poll() is not None), 20)
        fail_if(listening is True, "the local service exited at start:\n" + self.tail())
        fail_if(not listening.endswith(self.origin), f"the service listens elsewhere than {self.origin}: {listening}")

    def request(self, method, path_or_url, headers=None, data=None):
        url = path_or_url if "://" in path_or_url else self.origin + path_or_url
        with _http.open(urllib.request.Request(url, data, headers or {}, method=method), timeout=30) as reply:
            return reply.read()

    def get_json(self, path, headers=None):
        return json.loads(self.request("GET", path, headers))

    def otp_code(self, email):
        try:
            return self.get_json("/__dev/otp?email=" + urllib.request.quote(email))["code"]
        except urllib.error.HTTPError as e:
            if e.code != 404:
                raise

    def requests(self, method, pattern):
        return [r for r in self.get_json("/__dev/requests")
                if r["method"] == method and re.fullmatch(pattern, r["path"])]


class Client(Child):
    def __init__(self, binary, log_path):
        super().__init__([binary], log_path, env=dict(os.environ, QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1"))

    def quit(self):
        ids = run(["xdotool", "search", "--all", "--onlyvisible", "--pid", str(self.pid), "--name", f"^{MAIN}$"]).stdout.split()
        fail_if(not ids, f"no window titled {MAIN!r} belongs to the client")
        run(["xdotool", "windowactivate", "--sync", ids[0].decode()])
        # Closing the window only hides it: Ctrl+Q quits.
        run(["xdotool", "key", "--clearmodifiers", "ctrl+q"])
        wait_for("the client to exit", lambda: self.process.poll() is not None, 30)
        fail_if(self.process.returncode != 0, f"the client ended with status {self.process.returncode}:\n{self.tail()}")
        script_errors = [l for l in self.lines() if re.match(r"qrc:/.*(TypeError|ReferenceError)", l)]
        fail_if(script_errors, "the client's interface ran into script errors:\n" + "\n".join(script_errors))


class Node:

    def __init__(self, acc, extents):
        self.acc, self.extents = acc, extents
        self.role, self.name, self.description = acc.getRoleName(), acc.name or "", acc.description or ""

    def click(self):
        x, y, w, h = self.extents
        run(["xdotool", "mousemove", "--sync", str(x + w // 2), str(y + h // 2), "click", "1"])

    def __repr__(self):
        return f"{self.role} {self.name!r} {self.description!r} at {self.extents}"


def showing(pid, window=None):
    desktop = pyatspi.Registry.getDesktop(0)
    apps = map(desktop.getChildAtIndex, range(desktop.childCount))
    app = next((a for a in apps if a is not None and _pid_of(a) == pid), None)
    found = []

    def walk(acc):
        try:
            if not acc.getState().contains(pyatspi.STATE_SHOWING):
                return
            ext = acc.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
            found.append(Node(acc, (ext.x, ext.y, ext.width, ext.height)))
            for i in range(acc.childCount):
                if (child := acc.getChildAtIndex(i)) is not None:
                    walk(child)
        except Exception:
            return  # an object that went away while we looked; the next look sees the new tree

    for i in range(app.childCount if app else 0):
        top = app.getChildAtIndex(i)
        if top is not None and (window is None or top.name == window):
            walk(top)
    return found


def _pid_of(app):
    try:
        return app.get_process_id()
    except Exception:
        return None


def pick(nodes, name, role=None):
    return [n for n in nodes if (name.fullmatch(n.name) if isinstance(name, re.Pattern) else n.name == name)
            and role in (None, n.role)]


class MeetingWindow:

    def __init__(self, title, wm_class):
        self._display = display.Display()
        screen = self._display.screen()
        self.window = screen.root.create_window(60, 440, 480, 300, 0, screen.root_depth, X.InputOutput,
                                                X.CopyFromParent, background_pixel=screen.white_pixel)
        self.window.set_wm_class(wm_class, wm_class)
        self.window.set_wm_name(title)
        atom = self._display.intern_atom
        self.window.change_property(atom("_NET_WM_NAME"), atom("UTF8_STRING"), 8, title.encode())
        self.window.change_property(atom("_NET_WM_PID"), Xatom.CARDINAL, 32, [os.getpid()])
        self.window.map()
        self._display.sync()
        run(["xdotool", "windowactivate", "--sync", str(self.window.id)])

    def close(self):
        self.window.destroy()
        self._display.sync()
        self._display.close()


class Road:
    def __init__(self, args):
        self.args, self.out = args, args.artifacts
        shutil.rmtree(self.out, ignore_errors=True)
        os.makedirs(self.out)
        # A home of its own: recordings and upload queues that earlier tests left in the test desktop's are not this user's.
        os.environ["HOME"] = os.path.join(self.out, "home")
        os.environ["XDG_DOCUMENTS_DIR"] = os.path.join(os.environ["HOME"], "Documents")
        os.makedirs(os.environ["XDG_DOCUMENTS_DIR"])
        # The accessibility bus and registry run before any client, which then exposes its items from the first frame.
        pyatspi.Registry.getDesktop(0)
        self.service = self.client = self.meeting = None
        self.step_no, self.step_name = 0, ""

    def step(self, name):
        self.step_no, self.step_name, self.started = self.step_no + 1, name, time.monotonic()
        print(f"[e2e] step {self.step_no}: {name}", flush=True)

    def shot(self, label):
        run(["import", "-window", "root", os.path.join(self.out, f"{self.step_no:02d}-{label}.png")])

    def done(self, label):
        self.shot(label)
        print(f"[e2e]   ok in {time.monotonic() - self.started:.1f} s", flush=True)

    def in_window(self, window, what, name, timeout, role=None):
        return wait_for(what, lambda: next(iter(pick(showing(self.client.pid, window), name, role)), None), timeout)

    def home_shown(self):
        nodes = showing(self.client.pid, MAIN)
        return (pick(nodes, "Home", "heading")
                and any(n.acc.getState().contains(pyatspi.STATE_SELECTED) for n in pick(nodes, "Home", "page tab"))
                and not pick(nodes, "you@company.com"))

    def walk(self):
        self.service = Service(self.args.service, self.args.port, os.path.join(self.out, "service.log"))
        for stage in (self.sign_in, self.meet, self.record, self.stop_and_follow, self.restart, self.kill_and_recover):
            stage()

    def sign_in(self):
        self.step("sign in by e-mail code")
        self.client = Client(self.args.client, os.path.join(self.out, "client-1.log"))
        self.sign_in_as(EMAIL)
        self.done("home")

    def sign_in_as(self, email):
        """Signs in on the sign-in screen with the code the service issues."""
        field = self.in_window(MAIN, "the sign-in screen's e-mail field", "you@company.com", 60)
        self.shot("sign-in")
        field.click()
        run(["xdotool", "type", "--delay", "40", email])
        wait_for(f"the e-mail field to hold {email}", lambda: field.acc.queryText().getText(0, -1) == email, 10)
        self.in_window(MAIN, "the Send code button", "Send code", 5, role="push button").click()
        code = wait_for("the service to issue a one-time code", lambda: self.service.otp_code(email), 20)
        self.in_window(MAIN, "the code field", "000000", 20).click()
        run(["xdotool", "type", "--delay", "40", code])
        # Six digits verify by themselves; no button press.
        wait_for("the home screen after the code", self.home_shown, 30)

    def meet(self):
        self.step('a "Zoom Meeting" window brings the widget to "MEETING DETECTED"')
        self.in_window(WIDGET, "the widget's idle Record button", "Record", 30, role="push button")
        self.meeting = MeetingWindow("Zoom Meeting", "zoom")
        self.in_window(WIDGET, "MEETING DETECTED on the widget", "MEETING DETECTED", 15)
        self.in_window(WIDGET, "the meeting's name on the widget", "Zoom Meeting", 5)
        self.done("meeting-detected")

    def record(self):
        self.step(f"record {RECORD_SECONDS} s of speech and a tone")
        raw, speech, tone = (os.path.join(self.out, n) for n in ("speech-raw.wav", "speech.wav", "tone.wav"))
        run(["espeak-ng", "-w", raw, "Good morning everyone. Let us go through the launch plan, the budget "
             "and the open questions from last week, then agree who does what before Friday."])
        run(["sox", raw, "-r", "48000", "-c", "1", speech, "repeat", "5", "trim", "0", str(RECORD_SECONDS)])
        run(["sox", "-n", "-r", "48000", "-c", "2", tone, "synth", str(RECORD_SECONDS), "sine", "440", "gain", "-6"])
        self.in_window(WIDGET, "the widget's Record button", "Record", 5, role="push button").click()
        self.in_window(WIDGET, "REC on the widget", "REC", 15)
        self.in_window(WIDGET, "the widget's stop button", "Stop recording", 5)
        players = [subprocess.Popen(["paplay", "-d", sink, path])
                   for sink, path in (("micfeed", speech), ("speakers", tone))]
        for p in players:
            fail_if(p.wait(RECORD_SECONDS + 20) != 0, f"paplay ended with status {p.returncode}")
        self.shot("recording")
        elapsed = self.in_window(WIDGET, "the elapsed time", re.compile(r"\d+:\d\d"), 5)
        minutes, seconds = map(int, elapsed.name.split(":")[-2:])
        fail_if(minutes * 60 + seconds < RECORD_SECONDS, f"the widget counts {elapsed.name} after {RECORD_SECONDS} s")
        self.done("recorded")

    def stop_and_follow(self):
        self.step("stop: two blobs and one notify reach the service; the note comes in and opens")
        self.in_window(WIDGET, "the widget's stop button", "Stop recording", 5).click()
        # "Saved" shows for two seconds, too short to be sure to catch by polling; the widget test checks it.
        wait_for("the widget to stop recording", lambda: not pick(showing(self.client.pid, WIDGET), "Stop recording"), 10)
        self.meeting.close()
        self.meeting = None

        self.in_window(MAIN, "the sidebar's Meetings item", "Meetings", 10, role="page tab").click()
        self.in_window(MAIN, "the Meetings heading", "Meetings", 10, role="heading")
        seen = []

        def card_reached_ready():
            status = next((n.description for n in showing(self.client.pid, MAIN) if n.role == "panel"
                           and (n.description in STAGES or n.description.startswith("FAILED: "))), None)
            if status and seen[-1:] != [status]:
                seen.append(status)
                self.shot("card-" + status.split(":")[0].strip("…").replace(" ", "-").lower())
            fail_if((status or "").startswith("FAILED: "), f"the processing card says {status!r}")
            return status == "READY"

        # The client follows the note on its own timetable: 2 s, 20 s, then every 10 s.
        try:
            wait_for('the processing card to reach "Ready"', card_reached_ready, 120, interval=0.3)
        except Failure as e:
            raise Failure(f"{e}; the card showed: {' → '.join(seen) or 'nothing'}") from None
        order = [STAGES.index(s) for s in seen]
        fail_if(order != sorted(order), "the processing card went backwards: " + " → ".join(seen))

        notify, blobs, tokens = (self.service.requests(*r) for r in [("POST", "/api/desktop/meeting-notes"),
                                 ("PUT", r"/blob/recordings/.+"), ("POST", "/api/desktop/meeting-notes/upload-token")])
        fail_if((len(tokens), len(blobs), len(notify)) != (2, 2, 1),
                f"expected 2 tokens, 2 blobs and 1 notify; the service got {len(tokens)}, {len(blobs)}, {len(notify)}")
        bad = [f"{r['method']} {r['path']} → {r['status']}" for r in blobs + notify + tokens if r["status"] != 200]
        fail_if(bad, "the service refused part of the upload: " + "; ".join(bad))
        self.check_tracks(json.loads(notify[0]["body"]))

        token = notify[0]["headers"]["authorization"]
        notes = self.service.get_json("/api/v2/meeting-notes", headers={"Authorization": token})["data"]
        fail_if(len(notes) != 1, f"the new account should have exactly one note, the service lists {len(notes)}")
        title = notes[0]["title"]
        row = self.in_window(MAIN, f"the note {title!r} in the meetings list", title, 30, role="push button")
        self.shot("note-listed")
        row.click()
        self.in_window(MAIN, "the note's detail", title, 15, role="heading")
        self.in_window(MAIN, "the detail's back control", "Recordings", 5, role="push button")
        detail = wait_for("the client to load the note's detail",
                          lambda: self.service.requests("GET", rf"/api/v2/meeting-notes/{notes[0]['id']}"), 10)
        fail_if(detail[-1]["status"] != 200, f"the detail request ended with status {detail[-1]['status']}")
        self.done("note-detail")

    def check_tracks(self, body):
        """Speech on the microphone track (RMS about 0.09), the tone on the system track (0.48): swaps fail too."""
        for key, label, low, high in (("blob_url", "microphone", 0.02, 0.3), ("blob_url_system", "system", 0.3, 1)):
            fail_if(not (url := body.get(key)), f"the notify names no {label} track: {body}")
            samples = self.download_track(url, f"{label}-track.m4a", 16000)
            seconds = len(samples) / 16000
            level = (sum(s * s for s in samples) / len(samples)) ** 0.5 if samples else 0.0
            print(f"[e2e]   {label} track: {seconds:.1f} s, RMS {level:.3f}", flush=True)
            fail_if(not RECORD_SECONDS - 0.5 <= seconds <= RECORD_SECONDS + 30, f"{label} track: {seconds:.1f} s")
            fail_if(not low <= level <= high, f"the {label} track's level is RMS {level:.4f}, not in [{low}, {high}]")

    def download_track(self, url, name, rate):
        path = os.path.join(self.out, name)
        Path(path).write_bytes(self.service.request("GET", url))
        ffmpeg = ["ffmpeg", "-v", "error", "-i", path, "-f", "f32le", "-ac", "1", "-ar", str(rate), "-"]
        return array.array("f", run(ffmpeg).stdout)

    def restart(self):
        self.step("quit, start again: the session comes back without signing in")
        self.client.quit()
        self.service.request("DELETE", "/__dev/requests")
        self.client = Client(self.args.client, os.path.join(self.out, "client-2.log"))
        wait_for("the home screen of the restored session", self.home_shown, 60)
        me = self.service.requests("GET", "/api/desktop/me")
        fail_if(not me or me[-1]["status"] != 200, "the restored session did not load the user from the service")
        self.done("restored")

    def kill_and_recover(self):
        self.step("record again, kill the client, start it again: the interrupted recording uploads to a note")
        tone = os.path.join(self.out, "kill-tone.wav")
        run(["sox", "-n", "-r", "48000", "-c", "1", tone, "synth", str(KILL_TONE_SECONDS), "sine", "660", "gain", "-6"])
        before = sessions()
        self.in_window(WIDGET, "the widget's Record button", "Record", 10, role="push button").click()
        self.in_window(WIDGET, "REC on the widget", "REC", 15)
        session = new_session(before)
        # The tone starts once the microphone delivers, so all of it is recorded.
        wait_for("the first microphone buffer on disk", lambda: written_frames(session)[1], 10)
        run(["paplay", "-d", "micfeed", tone])
        # The client has written on past the tone's end before it dies.
        rate, at_end = written_frames(session)
        wait_for("the segment to grow past the tone", lambda: written_frames(session)[1] >= at_end + rate // 2, 10)
        self.client.process.kill()
        self.client.end()
        rate, written = written_frames(session)
        self.client = Client(self.args.client, os.path.join(self.out, "client-3.log"))
        wait_for("the home screen after the kill", self.home_shown, 60)
        self.in_window(MAIN, "the sidebar's Meetings item", "Meetings", 10, role="page tab").click()
        self.in_window(MAIN, "the Interrupted recording card", "Interrupted recording", 30)
        self.shot("interrupted")
        self.in_window(MAIN, "the card's Upload button", "Upload", 5, role="push button").click()
        notify = wait_for("a notify", lambda: self.service.requests("POST", "/api/desktop/meeting-notes"), 60)[0]
        fail_if(notify["status"] != 200, f"the notify ended with status {notify['status']}")
        # The upload took the card away at the click, before the notify: one left over would be a second card.
        fail_if(pick(showing(self.client.pid, MAIN), "Interrupted recording"), "more than one interrupted card")
        self.service.request("POST", "/__dev/process")
        notes = self.service.get_json("/api/v2/meeting-notes",
                                      headers={"Authorization": notify["headers"]["authorization"]})["data"]
        fail_if(len(notes) != 2, f"the account should now have two notes, the service lists {len(notes)}")
        # Everything written plays, to one buffer, and the whole tone is in it.
        samples = self.download_track(json.loads(notify["body"])["blob_url"], "interrupted-microphone-track.m4a", rate)
        window = rate // 100
        toned = window * sum(sum(s * s for s in samples[i:i + window]) / window > 0.01
                             for i in range(0, len(samples) - window + 1, window))
        print(f"[e2e]   microphone: {written} frames at the kill, {len(samples)} uploaded, {toned} toned", flush=True)
        if len(samples) < written - BUFFER_FRAMES:
            probe = lambda path: run(["ffprobe", "-v", "error", "-show_entries", "format=duration,size", "-of", "csv=p=0",
                                      path]).stdout.decode().strip() if os.path.exists(path) else "gone"
            raise Failure(f"the track holds {len(samples)} of {written} written frames (uploaded: {probe(os.path.join(self.out, 'interrupted-microphone-track.m4a'))}; "
                          f"in the session: {probe(os.path.join(session, 'upload_track.m4a'))})")
        fail_if(toned < KILL_TONE_SECONDS * rate - BUFFER_FRAMES, f"the track holds {toned} frames of tone")
        self.done("recovered")
        self.client.quit()

    def report(self, error):
        print(f"[e2e] FAILED at step {self.step_no} ({self.step_name}): {error}", flush=True)
        try:
            run(["import", "-window", "root", os.path.join(self.out, f"{self.step_no:02d}-FAILED.png")])
            if self.client and self.client.process.poll() is None:
                Path(self.out, "accessible-objects.txt").write_text("\n".join(map(repr, showing(self.client.pid))))
        except Exception as e:  # the report must not hide the failure
            print(f"[e2e] (could not save the failure's screenshot: {e})")
        if self.client:
            print("[e2e] last lines of the client:\n" + self.client.tail(), flush=True)
        print(f"[e2e] screenshots and logs: {self.out}", flush=True)

    def cleanup(self):
        if self.meeting:
            self.meeting.close()
        for child in filter(None, (self.client, self.service)):
            child.end()


def enter_private_network():
    if os.environ.get("ECHOQUILL_E2E_PRIVATE_NET") != "1":
        os.environ["ECHOQUILL_E2E_PRIVATE_NET"] = "1"
        # Without root, a user namespace of our own gives the right to make one.
        as_user = [] if os.geteuid() == 0 else ["--map-root-user"]
        os.execvp("unshare", ["unshare", "--net", *as_user, sys.executable, *sys.argv])
    subprocess.run(["ip", "link", "set", "lo", "up"], check=True)


def main(walker=None):
    parser = argparse.ArgumentParser()
    for option in ("--client", "--service", "--artifacts"):
        parser.add_argument(option, required=True)
    parser.add_argument("--port", type=int, required=True, help="the port of the client's service origin")
    args = parser.parse_args()

    enter_private_network()
    road = (walker or Road)(args)
    began = time.monotonic()
    try:
        road.walk()
    except Exception as e:
        road.report(e if isinstance(e, Failure) else traceback.format_exc())
        return 1
    finally:
        road.cleanup()
    print(f"[e2e] the whole road in {time.monotonic() - began:.1f} s; screenshots in {args.artifacts}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
