#!/usr/bin/env python3
"""Kestrim found on the network by name, with the real program and real avahi-daemons: each with a system bus
of the test's own, in a network namespace with loopback alone, so that nothing reaches the machine's bus, its
daemon or its network. Kestrim announces its HTTP port through one daemon; the other stands for another
device on the network that has the name first. Kestrim renames, announces again once its daemon (or the bus)
comes back, and is gone when it ends. Where private daemons cannot be had (not root, no namespaces, no
announcing on loopback) the test says why and counts as skipped (77).
"""

import http.client
import os
import re
import socket
import subprocess

from desktop import START_TIMEOUT, Desktop, Failure, check, main, require_tools, wait_for, write_conf

SKIPPED = 77
HOST = "kestrim-e2e"  # our daemon's host name: the names expected do not depend on this machine's
VIEWER, CONTROL = "Viewer-token-of-the-avahi-test", "Control-token-of-the-avahi-test"
BUS_CONF = """<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig><type>system</type><listen>unix:path={socket}</listen><auth>EXTERNAL</auth>
  <policy context="default"><allow user="*"/><allow own="*"/><allow send_destination="*"/>
    <allow receive_sender="*"/></policy></busconfig>
"""
# The other device publishes no addresses: two daemons on one loopback would claim the same one forever.
AVAHI_CONF = """[server]
host-name={host}
use-ipv4=yes
use-ipv6=no
allow-interfaces=lo
[wide-area]
enable-wide-area=no
[publish]
publish-addresses={addresses}
publish-hinfo=no
publish-workstation=no
"""


class Skip(Exception):
    pass


class PrivateAvahi:
    """A bus and a daemon, each a child of the desktop's, ended with it. The daemon joins the network namespace
    of `holder`, and a mount namespace of its own gives it a /run of its own for its pid file."""

    def __init__(self, desktop, holder, host, addresses=True):
        self.desktop, self.holder, self.label = desktop, holder, host
        self.root = os.path.join(desktop.root, host)
        os.makedirs(self.root)
        self.socket = os.path.join(self.root, "system_bus_socket")
        open(os.path.join(self.root, "bus.conf"), "w").write(BUS_CONF.format(socket=self.socket))
        open(os.path.join(self.root, "avahi-daemon.conf"), "w").write(
            AVAHI_CONF.format(host=host, addresses="yes" if addresses else "no"))
        self.env = dict(desktop.env, DBUS_SYSTEM_BUS_ADDRESS="unix:path=" + self.socket)
        self.bus = self.daemon = None
        self.starts = 0

    def start(self):
        if not self.bus or self.bus.poll() is not None:
            self.bus = self.desktop.spawn("dbus-daemon", ["dbus-daemon", "--nofork", "--print-address",
                                                          "--config-file=" + os.path.join(self.root, "bus.conf")],
                                          stdout=subprocess.PIPE)
            wait_for("the private system bus", lambda: self.bus.stdout.readline().startswith(b"unix:"))
        self.starts += 1
        log = os.path.join(self.desktop.artefacts, f"avahi-daemon-{self.label}-{self.starts}.log")
        conf = os.path.join(self.root, "avahi-daemon.conf")
        self.daemon = self.desktop.spawn("avahi-daemon", [
            "nsenter", f"--net=/proc/{self.holder.pid}/ns/net", "unshare", "--mount", "sh", "-c",
            "mount -t tmpfs tmpfs /run && exec avahi-daemon --no-drop-root --no-chroot --no-rlimits "
            f"--no-proc-title -f {conf}"], env=self.env, stderr=open(log, "wb"))
        try:
            wait_for("avahi-daemon to start", lambda: "Server startup complete" in open(log).read()
                     or self.daemon.poll() is not None, timeout=START_TIMEOUT)
        except Failure:
            pass
        if self.daemon.poll() is not None or "Server startup complete" not in open(log).read():
            # Once one has run here, one that does not start again is a fault.
            refusal = Skip if self.starts == 1 else Failure
            raise refusal(f"a private avahi-daemon did not start: {open(log).read().strip()[-400:]}")

    def stop(self, bus_too=False):
        for proc in (self.daemon, self.bus if bus_too else None):
            if proc:
                self.desktop._end(proc)
                self.desktop.forget(proc)

    def browse(self):
        """The _http._tcp services seen: {name: (host, port, txt set) once resolved, else None}; and the whole
        output as read. The other device's never resolve: it publishes no address."""
        out = subprocess.run(["avahi-browse", "-rpt", "_http._tcp"], env=self.env, capture_output=True,
                             text=True, timeout=20).stdout
        found = {}
        for fields in (line.split(";") for line in out.splitlines()):
            name = re.sub(r"\\(\d{3})", lambda m: chr(int(m.group(1))), fields[3]) if len(fields) > 3 else ""
            if fields[0] == "+":
                found.setdefault(name, None)
            elif fields[0] == "=" and len(fields) >= 10:
                found[name] = (fields[6], int(fields[8]), set(re.findall(r'"([^"]*)"', fields[9])))
        return found, out


def host_status(port, host):
    connection = http.client.HTTPConnection("127.0.0.1", port, timeout=10)
    connection.request("GET", "/api/v1/state?token=" + VIEWER, headers={"Host": f"{host}:{port}"})
    return connection.getresponse().status


def test(program, artefacts, _options):
    require_tools("avahi-daemon", "avahi-browse", "avahi-publish", "dbus-daemon", "unshare", "nsenter", "ip")
    if os.geteuid() != 0:
        raise Skip("private avahi-daemons in a network namespace of their own need root")
    if subprocess.run(["unshare", "--net", "--mount", "true"], capture_output=True).returncode != 0:
        raise Skip("no network namespace can be made here")
    with Desktop("avahi", program, artefacts) as desktop:
        holder = desktop.spawn("network namespace",
                               ["unshare", "--net", "sh", "-c", "ip link set lo up && exec sleep 1d"])
        wait_for("loopback in the namespace", lambda: holder.poll() is None and subprocess.run(
            ["nsenter", f"--net=/proc/{holder.pid}/ns/net", "ip", "-o", "link", "show", "up"],
            capture_output=True, text=True).stdout.count("lo:") == 1)
        avahi, other = PrivateAvahi(desktop, holder, HOST), PrivateAvahi(desktop, holder, "other", addresses=False)
        avahi.start()
        other.start()
        first = f"Kestrim on {HOST}"
        taken = desktop.spawn("avahi-publish", ["avahi-publish", "-s", first, "_http._tcp", "9", "path=/"],
                              env=other.env)
        try:
            wait_for("another device's service, seen on loopback", lambda: first in avahi.browse()[0], timeout=20)
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
            return (found.get(name) or (None, None))[1] == port and found[name]

        # Renamed for the other device on the network, then a second Kestrim on this machine for the first.
        kestrim, port = start("kestrim")
        host, _, txt = wait_for("the renamed announcement", lambda: announced(first + " #2", port), timeout=30)
        check(host == HOST + ".local" and txt == {"path=/", "api=/api/v1"}, f"announced {host} {txt}")
        check(host_status(port, HOST + ".local") == 200, "Host of the announced name refused")
        check(host_status(port, "elsewhere.local") == 421, "Host of another machine's name taken")
        second, second_port = start("kestrim-second")
        wait_for("the second program's announcement", lambda: announced(first + " #3", second_port), timeout=30)
        second.proc.terminate()
        check(second.wait_exit() == 0, "the second program did not end cleanly")

        # The daemon goes and comes back, and then the bus with it: announced again, the first name free now.
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
        raise SystemExit(SKIPPED)


if __name__ == "__main__":
    raise SystemExit(main(run))
