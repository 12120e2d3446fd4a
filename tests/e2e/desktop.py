"""What the end-to-end test needs around the client: the local service, the
client process, a meeting window, sound, screenshots, and a pair of hands
that find controls in the accessibility tree and press them with real
pointer and keyboard events."""

import array
import json
import os
import re
import subprocess
import threading
import time
import urllib.error
import urllib.request

import pyatspi
from Xlib import X, Xatom, display

# Direct connections only: a proxy from the environment is unreachable here.
_http = urllib.request.build_opener(urllib.request.ProxyHandler({}))


class Failure(Exception):
    """A check that did not hold, in words a reader understands."""


def wait_for(what, probe, timeout, interval=0.2):
    """Polls `probe` until it returns something true and returns that; fails
    naming `what` when `timeout` seconds pass first."""
    deadline = time.monotonic() + timeout
    while True:
        value = probe()
        if value:
            return value
        if time.monotonic() > deadline:
            raise Failure(f"timed out after {timeout:g} s waiting for {what}")
        time.sleep(interval)


def run(args, timeout=60, **kwargs):
    return subprocess.run(args, check=True, timeout=timeout, capture_output=True, **kwargs)


class Service:
    """The local service, on the port the client's build settings name."""

    def __init__(self, binary, port, processing_seconds, log_path):
        self.origin = f"http://127.0.0.1:{port}"
        self._log = open(log_path, "w")
        self.lines = []
        self.process = subprocess.Popen(
            [binary, "--port", str(port), "--ephemeral", "--dev-controls",
             "--processing-seconds", str(processing_seconds)],
            stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
        threading.Thread(target=self._read, daemon=True).start()
        wait_for("the local service to print its listening line",
                 lambda: any(l.startswith("[devserver] listening on") for l in self.lines)
                 or self.process.poll() is not None, 20)
        if self.process.poll() is not None:
            raise Failure("the local service exited at start:\n" + "\n".join(self.lines))
        listening = next(l for l in self.lines if l.startswith("[devserver] listening on"))
        if not listening.endswith(self.origin):
            raise Failure(f"the local service listens elsewhere than {self.origin}: {listening}")

    def _read(self):
        for line in self.process.stdout:
            self.lines.append(line.rstrip("\n"))
            self._log.write(line)
            self._log.flush()

    def request(self, method, path, body=None, headers=None):
        data = json.dumps(body).encode() if body is not None else None
        req = urllib.request.Request(self.origin + path, data=data, method=method, headers=headers or {})
        if data is not None:
            req.add_header("Content-Type", "application/json")
        with _http.open(req, timeout=20) as reply:
            return reply.read()

    def download(self, url, path):
        with _http.open(url, timeout=30) as reply, open(path, "wb") as f:
            f.write(reply.read())

    def get_json(self, path, headers=None):
        return json.loads(self.request("GET", path, headers=headers))

    def otp_code(self, email):
        try:
            return self.get_json("/__dev/otp?email=" + urllib.request.quote(email))["code"]
        except urllib.error.HTTPError as e:
            if e.code == 404:
                return None
            raise

    def requests(self):
        return self.get_json("/__dev/requests")

    def clear_requests(self):
        self.request("DELETE", "/__dev/requests")

    def stop(self):
        if self.process.poll() is None:
            self.process.terminate()
            try:
                self.process.wait(10)
            except subprocess.TimeoutExpired:
                self.process.kill()
        self._log.close()


class Client:
    """One run of the echoquill binary, its output kept in a file."""

    def __init__(self, binary, log_path):
        self.log_path = log_path
        env = dict(os.environ, QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1")
        self._log = open(log_path, "w")
        self.process = subprocess.Popen([binary], stdout=self._log, stderr=subprocess.STDOUT, env=env)
        self.pid = self.process.pid

    def running(self):
        return self.process.poll() is None

    def lines(self):
        with open(self.log_path, errors="replace") as f:
            return f.read().splitlines()

    def tail(self, count=40):
        return "\n".join(self.lines()[-count:])

    def wait_exit(self, timeout):
        try:
            return self.process.wait(timeout)
        except subprocess.TimeoutExpired:
            raise Failure(f"the client did not exit within {timeout:g} s")

    def kill(self):
        if self.running():
            self.process.kill()
            self.process.wait()
        self._log.close()


class Node:
    """One accessible object as seen at one moment."""

    def __init__(self, acc, role, name, description, extents):
        self.acc, self.role, self.name, self.description, self.extents = acc, role, name, description, extents

    @property
    def centre(self):
        x, y, w, h = self.extents
        return x + w // 2, y + h // 2

    def text(self):
        try:
            return self.acc.queryText().getText(0, -1)
        except NotImplementedError:
            return self.name

    def __repr__(self):
        return f"{self.role} {self.name!r} {self.description!r} at {self.extents}"


class Hands:
    """Finds what a client shows through the accessibility tree and acts on
    it with real input events, as a person with a mouse and keyboard would."""

    def __init__(self):
        # Starts the accessibility bus and registry before any client, so the
        # client finds them at start and exposes its items from the first frame.
        pyatspi.Registry.getDesktop(0)

    @staticmethod
    def _application(pid):
        desktop = pyatspi.Registry.getDesktop(0)
        for i in range(desktop.childCount):
            app = desktop.getChildAtIndex(i)
            try:
                if app is not None and app.get_process_id() == pid:
                    return app
            except Exception:
                continue
        return None

    def showing(self, pid, window=None):
        """Every accessible object of the process that is on screen now, in all
        its windows or only in the one titled `window`."""
        app = self._application(pid)
        if app is None:
            return []
        found = []

        def walk(acc, depth):
            try:
                if not acc.getState().contains(pyatspi.STATE_SHOWING):
                    return
                ext = acc.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
                found.append(Node(acc, acc.getRoleName(), acc.name or "", acc.description or "",
                                  (ext.x, ext.y, ext.width, ext.height)))
                for i in range(acc.childCount):
                    child = acc.getChildAtIndex(i)
                    if child is not None:
                        walk(child, depth + 1)
            except Exception:
                # An object that went away while we looked; the next look sees the new tree.
                return

        for i in range(app.childCount):
            top = app.getChildAtIndex(i)
            if top is not None and (window is None or top.name == window):
                walk(top, 0)
        return found

    def find(self, pid, name, role=None, window=None):
        """The showing objects named `name` (a string or a compiled pattern)."""
        return pick(self.showing(pid, window), name, role)

    def wait_one(self, pid, what, name, timeout, role=None, window=None):
        return wait_for(what, lambda: next(iter(self.find(pid, name, role, window)), None), timeout)

    @staticmethod
    def click(node):
        x, y = node.centre
        run(["xdotool", "mousemove", "--sync", str(x), str(y), "click", "1"])

    @staticmethod
    def type_text(text):
        run(["xdotool", "type", "--delay", "40", text])

    @staticmethod
    def close_window(pid, title):
        """Closes a window the way its user would, with the window manager's Alt+F4."""
        ids = run(["xdotool", "search", "--onlyvisible", "--pid", str(pid), "--name", f"^{title}$"]).stdout.split()
        if not ids:
            raise Failure(f"no window titled {title!r} belongs to process {pid}")
        run(["xdotool", "windowactivate", "--sync", ids[0].decode()])
        run(["xdotool", "key", "--clearmodifiers", "alt+F4"])

    def dump(self, pid, path):
        with open(path, "w") as f:
            for node in self.showing(pid):
                f.write(repr(node) + "\n")


def pick(nodes, name, role=None):
    """Those of `nodes` named `name` (a string or a compiled pattern), of `role` when given."""
    def matches(node):
        ok = name.fullmatch(node.name) if isinstance(name, re.Pattern) else node.name == name
        return ok and (role is None or node.role == role)
    return [n for n in nodes if matches(n)]


class MeetingWindow:
    """A top-level window that looks like a meeting application to the
    window manager: its own title, WM_CLASS and process id."""

    def __init__(self, title, wm_class, geometry=(60, 440, 480, 300)):
        self._display = display.Display()
        screen = self._display.screen()
        x, y, w, h = geometry
        self.window = screen.root.create_window(
            x, y, w, h, 0, screen.root_depth, X.InputOutput, X.CopyFromParent,
            background_pixel=screen.white_pixel, event_mask=X.StructureNotifyMask)
        self.window.set_wm_class(wm_class, wm_class)
        self.window.set_wm_name(title)
        self.window.change_property(self._display.intern_atom("_NET_WM_NAME"),
                                    self._display.intern_atom("UTF8_STRING"), 8, title.encode())
        self.window.change_property(self._display.intern_atom("_NET_WM_PID"), Xatom.CARDINAL, 32, [os.getpid()])
        self.window.map()
        self._display.sync()
        # Made the active window as a click on it would.
        run(["xdotool", "windowactivate", "--sync", str(self.window.id)])

    def close(self):
        self.window.destroy()
        self._display.sync()
        self._display.close()


class Sound:
    """Speech for the virtual microphone and a tone for the speakers."""

    def __init__(self, folder, seconds):
        self.seconds = seconds
        raw = os.path.join(folder, "speech-raw.wav")
        self.speech = os.path.join(folder, "speech.wav")
        self.tone = os.path.join(folder, "tone.wav")
        run(["espeak-ng", "-w", raw, "Good morning everyone. Let us go through the launch plan, the budget "
             "and the open questions from last week, then agree who does what before Friday."])
        run(["sox", raw, "-r", "48000", "-c", "1", self.speech, "repeat", "5", "trim", "0", str(seconds)])
        run(["sox", "-n", "-r", "48000", "-c", "2", self.tone, "synth", str(seconds), "sine", "440", "gain", "-6"])

    def play(self):
        """Plays both at once and returns when both have ended."""
        players = [subprocess.Popen(["paplay", "-d", "micfeed", self.speech]),
                   subprocess.Popen(["paplay", "-d", "speakers", self.tone])]
        for p in players:
            if p.wait(self.seconds + 20) != 0:
                raise Failure(f"paplay ended with status {p.returncode}")


def decode(path):
    """The track's samples as mono float32 at 16 kHz, and its length in seconds."""
    pcm = run(["ffmpeg", "-v", "error", "-i", path, "-f", "f32le", "-ac", "1", "-ar", "16000", "-"]).stdout
    samples = array.array("f")
    samples.frombytes(pcm)
    return samples, len(samples) / 16000


def rms(samples):
    if not samples:
        return 0.0
    return (sum(s * s for s in samples) / len(samples)) ** 0.5


def screenshot(path):
    run(["import", "-window", "root", path])
