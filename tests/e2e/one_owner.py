#!/usr/bin/python3
"""Every recording reaches the account that made it, walked with the real client: A's recording, whose upload the
service refuses, waits while B uses the client and presses everything its card offers, and becomes A's note once A is
back; recordings whose tracks could not be exported at the stop are tried again from their card, in the same run and
after a restart."""

import json, os, shutil, sys, urllib.request

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from road_of_a_recording import (MAIN, WIDGET, Client, Road, Service, _http, fail_if, main, new_session, pick, sessions,
                                 showing, wait_for, written_frames)

A, B = "a-owner@echoquill.test", "b-other@echoquill.test"


class Owners(Road):

    def walk(self):
        self.service = Service(self.args.service, self.args.port, os.path.join(self.out, "service.log"))
        self.runs = 0
        for stage in (self.recorded_by_a_refused, self.b_cannot_take_it, self.a_gets_it, self.export_fails):
            stage()

    def start_client(self):
        self.runs += 1
        self.client = Client(self.args.client, os.path.join(self.out, f"client-{self.runs}.log"))

    def sign_out(self):
        self.in_window(MAIN, "the sidebar's Profile item", "Profile", 10, role="page tab").click()
        self.in_window(MAIN, "the Sign out button", "Sign out everywhere", 10, role="push button").click()
        self.in_window(MAIN, "the sign-in screen", "you@company.com", 30)

    def record(self, seconds=2, while_recording=None):
        before = sessions()
        self.in_window(WIDGET, "the widget's Record button", "Record", 10, role="push button").click()
        self.in_window(WIDGET, "REC on the widget", "REC", 15)
        session = new_session(before)
        if while_recording:
            while_recording(session)
        wait_for(f"{seconds} s of microphone on disk",
                 lambda: (lambda rate, frames: rate and frames >= seconds * rate)(*written_frames(session)), 30)
        self.in_window(WIDGET, "the widget's stop button", "Stop recording", 5).click()
        return session

    def card_status(self):
        return next((n.description for n in showing(self.client.pid, MAIN) if n.role == "panel"
                     and n.name == "New recording"), None)

    def to_meetings(self):
        self.in_window(MAIN, "the sidebar's Meetings item", "Meetings", 10, role="page tab").click()
        self.in_window(MAIN, "the Meetings heading", "Meetings", 10, role="heading")

    def fault_tokens(self, on):
        if on:
            rule = {"path": "/api/desktop/meeting-notes/upload-token", "status": 500, "count": -1}
            _http.open(urllib.request.Request(self.service.origin + "/__dev/faults", method="POST",
                                              data=json.dumps(rule).encode(),
                                              headers={"Content-Type": "application/json"}), timeout=30).read()
        else:
            self.service.request("DELETE", "/__dev/faults")

    def notifies(self):
        return self.service.requests("POST", "/api/desktop/meeting-notes")

    def recorded_by_a_refused(self):
        self.step("A records while the service refuses upload tokens; the client is closed with it pending")
        self.start_client()
        self.sign_in_as(A)
        self.fault_tokens(True)
        self.a_session = self.record()
        self.to_meetings()
        wait_for("the card to say the upload failed",
                 lambda: (self.card_status() or "").startswith("FAILED: SERVER ERROR (500)"), 60)
        self.sign_out()
        self.client.quit()
        self.done("a-pending")

    def b_cannot_take_it(self):
        self.step("B starts the client and presses what A's card offers: nothing reaches B's notes")
        self.fault_tokens(False)
        self.service.request("DELETE", "/__dev/requests")
        self.start_client()
        self.sign_in_as(B)
        self.to_meetings()
        whose = "Recorded as " + A + " · sign in to that account to upload it"
        wait_for("A's card saying whose it is", lambda: self.card_status() == whose, 30)
        fail_if(pick(showing(self.client.pid, MAIN), "Retry", "push button"), "B is offered Retry on A's recording")
        self.shot("b-sees-a")
        self.in_window(MAIN, "the card's Dismiss button", "Dismiss", 5, role="push button").click()
        wait_for("the card to go", lambda: self.card_status() is None, 10)
        # The client's end proves that nothing more goes out: nothing of A's was sent while B was signed in.
        self.client.quit()
        fail_if(self.service.requests("POST", "/api/desktop/meeting-notes/upload-token") or self.notifies(),
                "something of A's recording was sent while B was signed in")
        self.start_client()
        wait_for("the home screen of B's restored session", self.home_shown, 60)
        self.sign_out()
        self.done("b-untouched")

    def a_gets_it(self):
        self.step("A signs in again: Retry makes A's note")
        self.sign_in_as(A)
        self.to_meetings()
        wait_for("A's failed card", lambda: (self.card_status() or "").startswith("FAILED: "), 30)
        self.in_window(MAIN, "the card's Retry button", "Retry", 5, role="push button").click()
        notify = wait_for("a notify", self.notifies, 60)[0]
        fail_if(notify["status"] != 200, f"the notify ended with status {notify['status']}")
        me = self.service.get_json("/api/desktop/me", headers={"Authorization": notify["headers"]["authorization"]})
        fail_if(me.get("email") != A, f"the note went to {me}, not to {A}")
        self.done("a-noted")

    def export_fails(self):
        self.step("the export fails at the stop: Retry in the same run, and after a restart, makes the note")
        # A folder that is not empty where the microphone's track goes: no export can write or remove it.
        plant = lambda session: os.makedirs(os.path.join(session, "upload_track.m4a", "in-the-way"))
        unplant = lambda session: shutil.rmtree(os.path.join(session, "upload_track.m4a"))
        self.service.request("DELETE", "/__dev/requests")
        first = self.record(while_recording=plant)
        wait_for("the card to say no audio file came out",
                 lambda: self.card_status() == "FAILED: NO AUDIO FILE PRODUCED", 60)
        unplant(first)
        self.in_window(MAIN, "the card's Retry button", "Retry", 5, role="push button").click()
        wait_for("the first notify", lambda: len(self.notifies()) == 1, 60)
        second = self.record(while_recording=plant)
        wait_for("the second card to fail", lambda: any(
            n.description == "FAILED: NO AUDIO FILE PRODUCED" for n in showing(self.client.pid, MAIN)), 60)
        self.client.quit()
        unplant(second)
        self.start_client()
        wait_for("the home screen of the restored session", self.home_shown, 60)
        self.to_meetings()
        wait_for("the offered recording", lambda: (self.card_status() or "") == "FAILED: NO AUDIO FILE PRODUCED", 30)
        self.in_window(MAIN, "the card's Retry button", "Retry", 5, role="push button").click()
        wait_for("the second notify", lambda: len(self.notifies()) == 2, 60)
        fail_if(any(r["status"] != 200 for r in self.notifies()), "a notify was refused")
        self.done("exports-retried")
        self.client.quit()


if __name__ == "__main__":
    sys.exit(main(Owners))
