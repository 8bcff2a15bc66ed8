#!/usr/bin/env python3
"""The update service for tests: nginx serving a folder, and the fault server.

As a command:
    python3 service.py run --workdir DIR -- command [args...]
starts both, runs the command with these variables set, stops both and exits
with the command's exit code:
    VERANDEL_HTTP_URL      nginx, http://127.0.0.1:PORT (no trailing slash)
    VERANDEL_DOCROOT       the served folder DIR/www as a Windows path (Z:\\...)
    VERANDEL_DOCROOT_UNIX  the same folder as a Linux path
    VERANDEL_ACCESS_LOG    nginx's access log as a Windows path
    VERANDEL_FAULT_URL     the fault server, http://127.0.0.1:PORT2
    VERANDEL_FAULT_LOG     the fault server's request log as a Windows path

As a module:
    with UpdateService(workdir) as svc:
        svc.url, svc.docroot, svc.access_log, svc.fault_url, svc.fault_log
and launcher_config(svc.url, ...) is a launcher configuration that uses it.

nginx gives real Range, 206 and 416 answers. Its access log has one line per
request, written as the request completes, a moment after the client has the
answer; svc.settled_access_log() reads it once every request answered so far
is in it:
    <client> [<time>] "<request line>" <status> <body bytes> "<Range or ->" "<User-Agent or ->"
The fault server's paths are listed in fault_server.py.

Everything lives in the workdir (configuration, pid, logs, temp folders).
Start-up waits at most START_TIMEOUT seconds, and stopping sends SIGTERM and
then SIGKILL after STOP_TIMEOUT seconds; nginx also dies with the process that
started it.
"""

import argparse
import ctypes
import http.client
import os
import signal
import socket
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from fault_server import FaultServer  # noqa: E402

NGINX = "/usr/sbin/nginx"
START_TIMEOUT = 10.0
STOP_TIMEOUT = 5.0
PORT_ATTEMPTS = 5
SETTLE_TIMEOUT = 60.0
# The path of the requests that settled_access_log() makes itself; nginx
# answers them with 404 and they are left out of what it returns.
SETTLE_PATH = "/.settled/"

NGINX_CONF = """\
daemon off;
master_process off;
worker_processes 1;
pid {prefix}/nginx.pid;
error_log {prefix}/error.log warn;
events {{ worker_connections 256; }}
http {{
    log_format verandel '$remote_addr [$time_local] "$request" $status $body_bytes_sent '
                        '"$http_range" "$http_user_agent"';
    access_log {prefix}/access.log verandel;
    client_body_temp_path {prefix}/temp/client_body;
    proxy_temp_path {prefix}/temp/proxy;
    fastcgi_temp_path {prefix}/temp/fastcgi;
    uwsgi_temp_path {prefix}/temp/uwsgi;
    scgi_temp_path {prefix}/temp/scgi;
    types {{ application/json json; text/plain txt; }}
    default_type application/octet-stream;
    sendfile off;
    keepalive_timeout 10s;
    server {{
        listen 127.0.0.1:{port};
        server_name localhost;
        root {docroot};
        location / {{ }}
    }}
}}
"""


def windows_path(path):
    """Wine's Z: drive is the Linux root."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def _die_with_parent(sig=signal.SIGKILL):
    # PR_SET_PDEATHSIG: a server or test left behind by a killed run (a ctest
    # time-out) would hold its port or go on writing into the build folder.
    libc = ctypes.CDLL(None, use_errno=True)
    libc.prctl(1, sig, 0, 0, 0)


# The launcher's configuration loader takes addresses on these ports for the
# other server's (live or test) and rewrites them.
LAUNCHER_REWRITTEN_PORTS = (8080, 8081)


def _free_port():
    while True:
        with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as s:
            s.bind(("127.0.0.1", 0))
            port = s.getsockname()[1]
        if port not in LAUNCHER_REWRITTEN_PORTS:
            return port


def _accepts(port):
    try:
        with socket.create_connection(("127.0.0.1", port), timeout=0.5):
            return True
    except OSError:
        return False


def _stop_process(proc):
    if proc.poll() is not None:
        return
    proc.terminate()
    try:
        proc.wait(timeout=STOP_TIMEOUT)
    except subprocess.TimeoutExpired:
        proc.kill()
        proc.wait(timeout=STOP_TIMEOUT)


class UpdateService:
    def __init__(self, workdir):
        self.workdir = os.path.abspath(workdir)
        self.docroot = os.path.join(self.workdir, "www")
        self.prefix = os.path.join(self.workdir, "nginx")
        self.access_log = os.path.join(self.prefix, "access.log")
        self.fault_log = os.path.join(self.workdir, "fault.log")
        self.url = None
        self.fault_url = None
        self._nginx = None
        self._fault = None
        self._settled = 0

    def __enter__(self):
        self.start()
        return self

    def __exit__(self, *exc):
        self.stop()
        return False

    def start(self):
        os.makedirs(self.docroot, exist_ok=True)
        os.makedirs(os.path.join(self.prefix, "temp"), exist_ok=True)
        for log in (self.access_log, self.fault_log):
            open(log, "w").close()
        try:
            self._start_nginx()
            self._fault = FaultServer(self.docroot, self.fault_log)
            self._fault.start()
            self.fault_url = self._fault.url
        except BaseException:
            self.stop()
            raise

    def _start_nginx(self):
        conf = os.path.join(self.prefix, "nginx.conf")
        error_log = os.path.join(self.prefix, "error.log")
        for _ in range(PORT_ATTEMPTS):
            port = _free_port()
            with open(conf, "w") as f:
                f.write(NGINX_CONF.format(prefix=self.prefix, port=port, docroot=self.docroot))
            self._nginx = subprocess.Popen(
                [NGINX, "-p", self.prefix, "-c", conf, "-e", error_log],
                stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                stderr=subprocess.DEVNULL, preexec_fn=_die_with_parent)
            deadline = time.monotonic() + START_TIMEOUT
            while time.monotonic() < deadline and self._nginx.poll() is None:
                if _accepts(port):
                    self.url = "http://127.0.0.1:%d" % port
                    return
                time.sleep(0.05)
            _stop_process(self._nginx)
            self._nginx = None
        with open(error_log, errors="replace") as f:
            raise RuntimeError("nginx did not start:\n" + f.read()[-2000:])

    def stop(self):
        if self._fault is not None:
            self._fault.stop()
            self._fault = None
        if self._nginx is not None:
            _stop_process(self._nginx)
            self._nginx = None

    def settled_access_log(self):
        """The access log's lines once every request that nginx answered
        before the call is in it. Its one worker finishes one request at a
        time and logs each as it finishes it, so once a request made now is in
        the log, so is every request answered before it."""
        self._settled += 1
        mark = '"GET %s%d ' % (SETTLE_PATH, self._settled)
        connection = http.client.HTTPConnection(self.url[len("http://"):], timeout=SETTLE_TIMEOUT)
        try:
            connection.request("GET", "%s%d" % (SETTLE_PATH, self._settled))
            connection.getresponse().read()
        finally:
            connection.close()
        deadline = time.monotonic() + SETTLE_TIMEOUT
        while True:
            with open(self.access_log, "rb") as f:
                lines = f.read().decode("latin-1").splitlines()
            if any(mark in line for line in lines):
                return [line for line in lines if '"GET ' + SETTLE_PATH not in line]
            if time.monotonic() > deadline:
                raise AssertionError("nginx did not log a request within %.0f s" % SETTLE_TIMEOUT)
            time.sleep(0.02)

    def environment(self):
        return {
            "VERANDEL_HTTP_URL": self.url,
            "VERANDEL_DOCROOT": windows_path(self.docroot),
            "VERANDEL_DOCROOT_UNIX": self.docroot,
            "VERANDEL_ACCESS_LOG": windows_path(self.access_log),
            "VERANDEL_FAULT_URL": self.fault_url,
            "VERANDEL_FAULT_LOG": windows_path(self.fault_log),
        }


def launcher_config(url, server_name, test=False, season_enabled=False):
    """The configuration document (as a dict) that points every address of a
    launcher at the service at url, the status probes included: the patch
    files under /patcher/ (/patcher_testers/ for a test launcher), the
    Season realm under /season/, the status documents under /status/."""
    root = url + ("/patcher_testers/" if test else "/patcher/")
    return {
        "server_name": server_name,
        "patch_list_url": root + "patch_qvx.txt",
        "patch_base_url": root,
        "full_client_url": url + "/downloads/files/Quillfen_Full_Client.zip",
        "manifest_url": root + "manifest.json",
        "base_download_url": root,
        "season_manifest_url": url + "/season/manifest.json",
        "season_download_url": url + "/season/",
        "server_status_url": url + "/status/legacy.json",
        "season_status_url": url + "/status/season.json",
        "website_url": url + "/index.html",
        "wiki_url": url + "/wiki",
        "discord_url": url + "/discord",
        "account_url": url + "/account",
        "season_enabled": season_enabled,
    }


def _run(workdir, command):
    def terminate(signum, _frame):
        raise SystemExit(128 + signum)

    signal.signal(signal.SIGTERM, terminate)
    with UpdateService(workdir) as svc:
        env = dict(os.environ)
        env.update(svc.environment())
        child = subprocess.Popen(command, env=env,
                                 preexec_fn=lambda: _die_with_parent(signal.SIGTERM))
        try:
            return child.wait()
        finally:
            _stop_process(child)


def main(argv):
    parser = argparse.ArgumentParser(description="Run a command with the test update service.")
    sub = parser.add_subparsers(dest="action", required=True)
    run = sub.add_parser("run", help="start the service, run the command, stop the service")
    run.add_argument("--workdir", required=True)
    run.add_argument("command", nargs=argparse.REMAINDER)
    args = parser.parse_args(argv)
    command = args.command[1:] if args.command[:1] == ["--"] else args.command
    if not command:
        parser.error("no command given after --")
    return _run(args.workdir, command)


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
