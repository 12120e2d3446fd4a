#!/usr/bin/python3
"""The real client used with the keyboard alone, as a screen reader reads it: sign in by code with Tab, typing and
Return, go through every screen with the shortcuts, open a note and go back, record with Ctrl+R. On each screen and on
the widget, every object a screen reader can press or toggle must say what it is, have a role a reader knows, and take
the keyboard's focus."""

import json, os, re, sys

import pyatspi

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from road_of_a_recording import (MAIN, WIDGET, Client, MeetingWindow, Road, Service, fail_if, main, new_session, pick, run,
                                 sessions, showing, wait_for, written_frames)

DEMO = "demo@echoquill.test"
ROLES = {"push button", "check box", "radio button", "page tab", "list item"}


def key(*names):
    run(["xdotool", "key", "--clearmodifiers", *names])


class KeyboardWalk(Road):

    def walk(self):
        self.service = Service(self.args.service, self.args.port, os.path.join(self.out, "service.log"))
        for stage in (self.sign_in, self.screens, self.record):
            stage()
        self.client.quit()

    def activate_main(self):
        run(["xdotool", "search", "--sync", "--onlyvisible", "--pid", str(self.client.pid), "--name", f"^{MAIN}$",
             "windowactivate", "--sync"])

    def focused(self):
        return next((n for n in showing(self.client.pid, MAIN)
                     if n.acc.getState().contains(pyatspi.STATE_FOCUSED) and n.role != "frame"), None)

    def wait_focus(self, what, name, role=None):
        return wait_for(what, lambda: (f := self.focused()) and pick([f], name, role) and f, 10)

    def tab_to(self, name):
        for _ in range(20):
            before = repr(self.focused())
            key("Tab")
            if wait_for("the focus to move", lambda: (f := self.focused()) and repr(f) != before and f, 5).name == name:
                return
        fail_if(True, f"Tab never reached {name!r}")

    def check_controls(self, window, screen):
        """Every object with a press or toggle action is named, has a known role, and is focusable."""
        controls = 0
        for node in showing(self.client.pid, window):
            try:
                action = node.acc.queryAction()
            except NotImplementedError:
                continue
            if not {action.getName(i).lower() for i in range(action.nActions)} & {"press", "toggle"}:
                continue
            controls += 1
            fail_if(not node.name.strip(), f"{screen}: a control has no name: {node!r}")
            fail_if(node.role not in ROLES, f"{screen}: {node.name!r} is a {node.role}, not one of {sorted(ROLES)}")
            fail_if(not node.acc.getState().contains(pyatspi.STATE_FOCUSABLE),
                    f"{screen}: {node.name!r} cannot take the keyboard's focus")
        fail_if(controls == 0, f"{screen}: no control found at all")
        print(f"[e2e]   {screen}: {controls} controls named and focusable", flush=True)

    def sign_in(self):
        self.step("sign in by code with the keyboard alone")
        self.client = Client(self.args.client, os.path.join(self.out, "client-1.log"))
        self.in_window(MAIN, "the sign-in screen's e-mail field", "you@company.com", 60)
        self.activate_main()
        self.check_controls(MAIN, "sign-in")
        self.tab_to("you@company.com")
        run(["xdotool", "type", "--delay", "40", DEMO])
        key("Return")
        code = wait_for("the service to issue a one-time code", lambda: self.service.otp_code(DEMO), 20)
        self.wait_focus("the code field to take the focus", "000000")
        run(["xdotool", "type", "--delay", "40", code])
        wait_for("the home screen after the code", self.home_shown, 30)
        self.done("home")

    def screens(self):
        self.step("every screen through its shortcut, a note opened with Return and left with Escape")
        self.check_controls(MAIN, "Home")
        self.check_controls(WIDGET, "the widget")
        key("ctrl+2")
        self.in_window(MAIN, "the Meetings heading", "Meetings", 10, role="heading")
        row = wait_for("the first note to take the focus", self.focused, 10)
        fail_if(row.role != "push button", f"Ctrl+2 left the focus on {row!r}, not on the first note")
        self.check_controls(MAIN, "Meetings")
        key("End")
        wait_for("End to reach another note", lambda: (f := self.focused()) and f.name != row.name, 5)
        key("Home")
        self.wait_focus("Home to come back to the first note", row.name, "push button")
        key("Down")
        row = wait_for("the next note to take the focus", lambda: (f := self.focused()) and f.name != row.name and f, 5)
        self.shot("meetings")
        key("Return")
        self.in_window(MAIN, "the note's detail", row.name, 15, role="heading")
        self.wait_focus("the detail's back control to take the focus", "Recordings", "push button")
        self.check_controls(MAIN, "a note")
        self.shot("note")
        key("Escape")
        self.in_window(MAIN, "the Meetings heading again", "Meetings", 10, role="heading")
        for shortcut, heading in (("ctrl+3", "Actions"), ("ctrl+4", "Account")):
            key(shortcut)
            self.in_window(MAIN, f"the {heading} heading", heading, 10, role="heading")
            wait_for(f"the {heading} screen to take the focus", self.focused, 10)
            self.check_controls(MAIN, heading)
            self.shot(heading.lower())
        self.done("screens")

    def record(self):
        self.step("Ctrl+R records in the main window; Ctrl+Alt+R in another application, which keeps the focus")
        self.record_once("ctrl+r", notifies=1)
        self.in_window(MAIN, "the news for a screen reader", re.compile("Recording stopped|Saved"), 5, role="alert")
        self.meeting = MeetingWindow("Quarterly numbers", "spreadsheet")
        refused = json.dumps({"path": "/api/desktop/meeting-notes/upload-token", "status": 500, "count": -1})
        self.service.request("POST", "/__dev/faults", data=refused.encode())
        self.record_once("ctrl+alt+r", notifies=1)
        front = run(["xdotool", "getactivewindow"]).stdout.decode().strip()
        fail_if(front != str(self.meeting.window.id), "Ctrl+Alt+R took the focus from the application in front")
        self.done("stopped")

        self.step("the failed upload's card from the keyboard: Retry, ✕ and its question, Escape, Retry")
        self.activate_main()
        key("ctrl+2")
        self.in_window(MAIN, "the failed card's Retry", "Retry", 30, role="push button")
        self.tab_to("Retry")
        for keys, name in (("Tab", "Dismiss"), ("Return", "Keep"), ("Escape", "Dismiss"), ("shift+Tab", "Retry")):
            key(keys)
            self.wait_focus(f"{keys} to reach {name}", name, "push button")
        self.service.request("DELETE", "/__dev/faults")
        key("Return")
        wait_for("the retried notify", lambda: len(self.service.requests("POST", "/api/desktop/meeting-notes")) == 2, 30)
        self.done("retried")

    def record_once(self, keys, notifies):
        before = sessions()
        key(keys)
        self.in_window(WIDGET, "the widget's stop button", "Stop recording", 15)
        session = new_session(before)
        wait_for("the first microphone buffer on disk", lambda: written_frames(session)[1], 10)
        self.check_controls(WIDGET, "the recording widget")
        self.shot("recording")
        key(keys)
        wait_for("the widget to stop recording", lambda: not pick(showing(self.client.pid, WIDGET), "Stop recording"), 15)
        wait_for("the recording's notify",
                 lambda: len(self.service.requests("POST", "/api/desktop/meeting-notes")) == notifies, 60)

if __name__ == "__main__":
    sys.exit(main(KeyboardWalk))
