#!/usr/bin/env python3
"""Kestrim found by name, with the real program and two real avahi-daemons, each on a system bus of the test's
own, in a network namespace with loopback alone: nothing reaches the machine's bus, daemon or network. The other
daemon stands for another device that has the name first. Without root or namespaces: skipped (77), with why.
"""

import http.client
import os
import re
import socket
import subprocess

from desktop import START_TIMEOUT, Desktop, Failure, check, main, require_tools, wait_for, write_conf

HOST = "kestrim-e2e"  # our daemon's host name, so that the names expected do not depend on this machine's
VIEWER, CONTROL = "Viewer-token-of-the-avahi-test", "Control-token-of-the-avahi-test"
BUS_CONF = """<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig><type>system</type><listen>unix:path={}</listen><auth>EXTERNAL</auth><policy context="default">
  <allow user="*"/><allow own="*"/><allow send_destination="*"/><allow receive_sender="*"/></policy></busconfig>
"""
# The other device publishes no address: two daemons on one loopback would claim the same one for ever.
AVAHI_CONF = "[server]\nhost-name={}\nuse-ipv4=yes\nuse-ipv6=no\nallow-interfaces=lo\n[wide-area]\n" \
             "enable-wide-area=no\n[publish]\npublish-addresses={}\npublish-hinfo=no\npublish-workstation=no\n"


class Skip(Exception):
    pass


class PrivateAvahi:
    """A bus and a daemon, children of the desktop's; the daemon in the namespace of `holder`, with a /run of
    its own for its pid file."""

    def __init__(self, desktop, holder, host, addresses="yes"):
        self.desktop, self.holder, self.host, self.starts, self.bus = desktop, holder, host, 0, None
        self.conf = os.path.join(desktop.root, host)
        socket_path = self.conf + ".socket"
        open(self.conf + ".bus", "w").write(BUS_CONF.format(socket_path))
        open(self.conf, "w").write(AVAHI_CONF.format(host, addresses))
        self.env = dict(desktop.env, DBUS_SYSTEM_BUS_ADDRESS="unix:path=" + socket_path)

    def start(self):
        if not self.bus or self.bus.poll() is not None:
            bus = ["dbus-daemon", "--nofork", "--print-address", "--config-file=" + self.conf + ".bus"]
            self.bus = self.desktop.spawn("dbus-daemon", bus, stdout=subprocess.PIPE)
            wait_for("the private system bus", lambda: self.bus.stdout.readline().startswith(b"unix:"))
        self.starts += 1
        log = os.path.join(self.desktop.artefacts, f"avahi-daemon-{self.host}-{self.starts}.log")
        self.daemon = self.desktop.spawn("avahi-daemon", [
            "nsenter", f"--net=/proc/{self.holder.pid}/ns/net", "unshare", "--mount", "sh", "-c",
            "mount -t tmpfs tmpfs /run && exec avahi-daemon --no-drop-root --no-chroot --no-rlimits -f " + self.conf],
            env=self.env, stderr=open(log, "wb"))
        def started():
            return "Server startup complete" in open(log).read()

        try:
            wait_for("avahi-daemon to start", lambda: started() or self.daemon.poll() is not None, START_TIMEOUT)
        except Failure:
            pass
        if not started():  # once one has run here, one that does not start again is a fault
            raise (Skip if self.starts == 1 else Failure)(f"avahi-daemon did not start: {open(log).read()[-400:]}")

    def stop(self, bus_too):
        for proc in (self.daemon, self.bus) if bus_too else (self.daemon,):
            self.desktop._end(proc)

    def browse(self):
        """{name: (host, port, TXT) once resolved, else None}, and what avahi-browse said. The other device's
        service never resolves: it has no address."""
        out = subprocess.run(["avahi-browse", "-rpt", "_http._tcp"], env=self.env, capture_output=True, text=True,
                             timeout=20).stdout
        found = {}
        for f in (line.split(";") for line in out.splitlines() if line.count(";") >= 5):
            name = re.sub(r"\\(\d{3})", lambda m: chr(int(m.group(1))), f[3])
            if f[0] == "=" and len(f) >= 10:
                found[name] = (f[6], int(f[8]), set(re.findall(r'"([^"]*)"', f[9])))
            elif f[0] == "+":
                found.setdefault(name, None)
        return found, out


def host_status(port, host):
    connection = http.client.HTTPConnection("127.0.0.1", port, timeout=10)
    connection.request("GET", "/api/v1/state?token=" + VIEWER, headers={"Host": f"{host}:{port}"})
    return connection.getresponse().status


def test(program, artefacts, _options):
    require_tools("avahi-daemon", "avahi-browse", "avahi-publish", "dbus-daemon", "unshare", "nsenter", "ip")
    if os.geteuid() != 0 or subprocess.run(["unshare", "--net", "true"], capture_output=True).returncode != 0:
        raise Skip("private avahi-daemons need root and a network namespace of their own")
    with Desktop("avahi", program, artefacts) as desktop:
        holder = desktop.spawn("namespace", ["unshare", "--net", "sh", "-c", "ip link set lo up && exec sleep 1d"])
        wait_for("loopback in the namespace", lambda: "lo:" in subprocess.run(
            ["nsenter", f"--net=/proc/{holder.pid}/ns/net", "ip", "-o", "link", "show", "up"], text=True,
            capture_output=True).stdout)
        avahi, other = PrivateAvahi(desktop, holder, HOST), PrivateAvahi(desktop, holder, "other", addresses="no")
        avahi.start()
        other.start()
        first = "Kestrim on " + HOST
        taken = desktop.spawn("avahi-publish", ["avahi-publish", "-s", first, "_http._tcp", "9"], env=other.env)
        try:
            wait_for("the other device's service", lambda: first in avahi.browse()[0], timeout=20)
        except Failure as failure:
            raise Skip(f"loopback cannot be announced on this machine ({failure})") from failure

        def start(label):
            home = desktop.new_config_home(label)
            with socket.socket() as probe:
                probe.bind(("127.0.0.1", 0))
                port = probe.getsockname()[1]
            write_conf(home, f"[Remote]\nEnabled=True\nPort={port}\nViewerToken={VIEWER}\nControlToken={CONTROL}\n")
            bus = {"DBUS_SYSTEM_BUS_ADDRESS": avahi.env["DBUS_SYSTEM_BUS_ADDRESS"]}
            return desktop.start_kestrim(home, log_name=label, extra_env=bus), port

        def announced(name, port):
            found, out = avahi.browse()
            check(VIEWER not in out and CONTROL not in out, f"a token is announced: {out}")
            return (found.get(name) or (0, 0))[1] == port and found[name]

        # Renamed for the other device on the network, and a second Kestrim here for this one.
        kestrim, port = start("kestrim")
        host, _, txt = wait_for("the renamed announcement", lambda: announced(first + " #2", port), timeout=30)
        check(host == HOST + ".local" and txt == {"path=/", "api=/api/v1"}, f"announced {host} {txt}")
        check(host_status(port, HOST + ".local") == 200, "Host of the announced name refused")
        check(host_status(port, "elsewhere.local") == 421, "Host of another machine's name taken")
        second, second_port = start("kestrim-second")
        wait_for("the second program's announcement", lambda: announced(first + " #3", second_port), timeout=30)
        second.proc.terminate()
        check(second.wait_exit() == 0, "the second program did not end cleanly")

        # The daemon goes and comes back, then the bus with it: announced again, by the first name, free now.
        desktop._end(taken)
        for bus_too in (False, True):
            avahi.stop(bus_too)
            wait_for("the program on without a daemon", lambda: kestrim.alive() and host_status(port, "localhost"))
            avahi.start()
            wait_for("the announcement again", lambda: announced(first, port), timeout=30)
        kestrim.proc.terminate()
        check(kestrim.wait_exit() == 0, "the program did not end cleanly")
        wait_for("the announcement gone with the program", lambda: not announced(first, port), timeout=20)


def run(program, artefacts, options):
    try:
        test(program, artefacts, options)
    except Skip as reason:
        print(f"skipped: {reason}")
        raise SystemExit(77)


if __name__ == "__main__":
    raise SystemExit(main(run))
