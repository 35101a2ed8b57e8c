#!/usr/bin/python3
"""Runs the built application on a copy of its shipped resources, as a new
user would, with VEREDODA_MEASUREMENT_UPLOAD_URL and
VEREDODA_MEASUREMENT_CONFIG_URL of the copied options file pointed at a
loopback server of this script, and passes when a posted batch carries
"app_start".

usage: shipped_upload_check.py MOSSBRIDGE_EXECUTABLE RESOURCES [SECONDS]
"""

import gzip
import http.server
import os
import plistlib
import shutil
import subprocess
import sys
import tempfile
import threading


class Recorder(http.server.BaseHTTPRequestHandler):
    posts = []

    def do_GET(self):  # no configuration: the built-in settings stand
        self.send_response(404)
        self.send_header("Content-Length", "0")
        self.end_headers()

    def do_POST(self):
        body = self.rfile.read(int(self.headers.get("Content-Length", "0")))
        if self.headers.get("Content-Encoding") == "gzip":
            try:
                body = gzip.decompress(body)
            except OSError:
                pass
        Recorder.posts.append(body)
        self.send_response(204)
        self.end_headers()

    def log_message(self, *args):
        pass


def main():
    executable, shipped = sys.argv[1], sys.argv[2]
    seconds = sys.argv[3] if len(sys.argv) > 3 else "6"
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Recorder)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    base = "http://127.0.0.1:%d" % server.server_address[1]
    with tempfile.TemporaryDirectory() as home:
        resources = os.path.join(home, "resources")
        shutil.copytree(shipped, resources)
        options_path = os.path.join(resources, "VadovaService-Info.plist")
        with open(options_path, "rb") as file:
            options = plistlib.load(file)
        options["VEREDODA_MEASUREMENT_UPLOAD_URL"] = base
        options["VEREDODA_MEASUREMENT_CONFIG_URL"] = base
        with open(options_path, "wb") as file:
            plistlib.dump(options, file)
        # Debug mode, which a developer turns on to see events arrive at once:
        # the first upload follows the latest event by a second, not fifteen.
        os.makedirs(os.path.join(home, "config", "Mossbridge"))
        with open(os.path.join(home, "config", "Mossbridge", "Mossbridge.plist"), "wb") as file:
            plistlib.dump({"/vadova/measurement/debug_mode": True}, file)
        environment = dict(os.environ, HOME=home, XDG_DATA_HOME=home + "/data", XDG_CONFIG_HOME=home + "/config",
                           XDG_CACHE_HOME=home + "/cache", TMPDIR=home)
        environment.pop("MOSSBRIDGE_RESOURCES", None)
        run = subprocess.run([executable, "--resources", resources, "--seconds", seconds, "--snapshot-interval", "0"],
                             env=environment, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=120)
    server.shutdown()
    output = run.stdout.decode(errors="replace")
    if run.returncode != 0:
        print(output)
        print("the application ended with status %d" % run.returncode)
        return 1
    if not any(b"app_start" in body for body in Recorder.posts):
        print(output[-4000:])
        print("no posted batch carried app_start (%d posts)" % len(Recorder.posts))
        return 1
    print("a posted batch carried app_start")
    return 0


if __name__ == "__main__":
    sys.exit(main())
