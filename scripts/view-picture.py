#!/usr/bin/env python3
"""Redraws docs/view-stage.png: the live view of the stage scene while it
records, as headless Chromium shows it.

    scripts/view-picture.py [OUT.png]      (after cmake --build --preset default)

Starts orbel-capture-server on the synthetic stage scene (10 subjects x 60
segments, 600 labelled and 1000 unlabelled markers) and orbel-host with the
view, opens the page in Chromium over its DevTools pipe, lets it stream for
a few seconds and takes the picture. Every process it starts ends with it.
"""
import base64
import json
import os
import re
import signal
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BIN = os.path.join(ROOT, "build", "default", "bin")
OUT = sys.argv[1] if len(sys.argv) > 1 else os.path.join(ROOT, "docs", "view-stage.png")


def first_match(stream, pattern, what):
    deadline = time.time() + 30
    while time.time() < deadline:
        line = stream.readline()
        if not line:
            break
        found = re.search(pattern, line)
        if found:
            return found.group(1)
    sys.exit("view-picture: %s did not start" % what)


class DevTools:
    """Chromium's DevTools protocol over --remote-debugging-pipe."""

    def __init__(self, to_browser, from_browser):
        self.to_browser, self.from_browser = to_browser, from_browser
        self.pending, self.next_id, self.session = b"", 0, None

    def call(self, method, **params):
        self.next_id += 1
        message = {"id": self.next_id, "method": method, "params": params}
        if self.session:
            message["sessionId"] = self.session
        os.write(self.to_browser, json.dumps(message).encode() + b"\0")
        while True:
            while b"\0" in self.pending:
                text, self.pending = self.pending.split(b"\0", 1)
                reply = json.loads(text)
                if reply.get("id") == self.next_id:
                    return reply.get("result", {})
            chunk = os.read(self.from_browser, 1 << 16)
            if not chunk:
                sys.exit("view-picture: Chromium closed its pipe")
            self.pending += chunk


def main():
    started = []
    work = tempfile.mkdtemp(prefix="orbel-view-picture-")
    try:
        server = subprocess.Popen(
            [os.path.join(BIN, "orbel-capture-server"), "--port", "0", "--scene-preset", "stage"],
            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        started.append(server)
        port = first_match(server.stdout, r"listening on [0-9.]+:(\d+)", "the capture server")
        commands = "; ".join([
            'add "Orbel Stream Device" cam', "panel cam set-address 127.0.0.1",
            "panel cam set-port " + port, "panel cam axis Y-Up", "panel cam bones on",
            "panel cam markers on", "panel cam unlabeled on", "panel cam count 1000",
            "online cam on", "bind cam", "arm cam on", "record 120"])
        host = subprocess.Popen(
            [os.path.join(BIN, "orbel-host"), "--config-dir", os.path.join(work, "config"),
             "--quiet", "--no-status", "--view", "0", "-c", commands],
            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        started.append(host)
        url = first_match(host.stdout, r"view: (http://\S+)", "orbel-host's view")

        to_read, to_write = os.pipe()
        from_read, from_write = os.pipe()

        def pipes():
            os.dup2(to_read, 3)
            os.dup2(from_write, 4)

        browser = subprocess.Popen(
            ["chromium", "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic",
             "--no-first-run", "--disable-background-networking", "--disable-component-update",
             "--disable-sync", "--hide-scrollbars", "--window-size=1280,720",
             "--user-data-dir=" + os.path.join(work, "chromium"), "--remote-debugging-pipe",
             "about:blank"],
            pass_fds=(3, 4), preexec_fn=pipes, start_new_session=True,
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        started.append(browser)
        devtools = DevTools(to_write, from_read)
        target = devtools.call("Target.createTarget", url=url)["targetId"]
        devtools.session = devtools.call("Target.attachToTarget", targetId=target,
                                         flatten=True)["sessionId"]
        deadline = time.time() + 60
        while time.time() < deadline:
            state = devtools.call("Runtime.evaluate", returnByValue=True,
                                  expression="window.orbelView && orbelView.state()")
            value = state.get("result", {}).get("value") or {}
            if value.get("poses", 0) > 0 and value.get("joints", 0) > 0:
                break
            time.sleep(0.2)
        else:
            sys.exit("view-picture: the page never showed the stage")
        time.sleep(3)
        devtools.call("Runtime.evaluate", expression="orbelView.frameAll()")
        time.sleep(0.5)
        picture = devtools.call("Page.captureScreenshot", format="png")["data"]
        with open(OUT, "wb") as out:
            out.write(base64.b64decode(picture))
        print("wrote " + OUT)
    finally:
        for process in reversed(started):
            if process is started[-1] and len(started) == 3:
                os.killpg(process.pid, signal.SIGKILL)  # Chromium and its helpers
            else:
                process.kill()
            process.wait()
        subprocess.run(["rm", "-rf", work], check=False)


if __name__ == "__main__":
    main()
