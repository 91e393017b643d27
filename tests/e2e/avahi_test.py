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


def skip(reason):
    print(f"skipped: {reason}")
    raise SystemExit(77)


def browse(env):
    """{name: (host, port, TXT) once resolved, else None} of the _http._tcp services, and avahi-browse's words.
    The other device's service never resolves: it has no address."""
    out = subprocess.run(["avahi-browse", "-rpt", "_http._tcp"], env=env, capture_output=True, text=True,
                         timeout=20).stdout
    found = {}
    for f in (line.split(";") for line in out.splitlines() if line.count(";") >= 5):
        name = re.sub(r"\\(\d{3})", lambda m: chr(int(m.group(1))), f[3])
        found[name] = (f[6], int(f[8]), set(re.findall(r'"([^"]*)"', f[9]))) if f[0] == "=" else found.get(name)
    return found, out


def host_status(port, host):
    connection = http.client.HTTPConnection("127.0.0.1", port, timeout=10)
    connection.request("GET", "/api/v1/state?token=" + VIEWER, headers={"Host": f"{host}:{port}"})
    return connection.getresponse().status


def test(program, artefacts, _options):
    require_tools("avahi-daemon", "avahi-browse", "avahi-publish", "dbus-daemon", "unshare", "nsenter", "ip")
    if os.geteuid() != 0 or subprocess.run(["unshare", "--net", "true"], capture_output=True).returncode != 0:
        skip("private avahi-daemons need root and a network namespace of their own")
    with Desktop("avahi", program, artefacts) as desktop:
        holder = desktop.spawn("namespace", ["unshare", "--net", "sh", "-c", "ip link set lo up && exec sleep 1d"])
        net = f"/proc/{holder.pid}/ns/net"
        # Not before the namespace is the holder's own: until then it is this machine's.
        wait_for("loopback up in a namespace of its own", lambda: os.readlink(net) != os.readlink("/proc/self/ns/net")
                 and "lo:" in subprocess.run(["nsenter", "--net=" + net, "ip", "-o", "link", "show", "up"],
                                             text=True, capture_output=True).stdout)
        net = "--net=" + net
        daemons, starts = {}, []

        def start_avahi(host, addresses="yes", bus_too=True):
            """A bus (unless it runs) and a daemon in the namespace, with a /run of its own for its pid file."""
            conf, bus = os.path.join(desktop.root, host), os.path.join(desktop.root, host + ".socket")
            env = dict(desktop.env, DBUS_SYSTEM_BUS_ADDRESS="unix:path=" + bus)
            if bus_too:
                open(conf + ".bus", "w").write(BUS_CONF.format(bus))
                open(conf, "w").write(AVAHI_CONF.format(host, addresses))
                daemons[host + ".bus"] = desktop.spawn("dbus-daemon", ["dbus-daemon", "--nofork", "--print-address",
                                                       "--config-file=" + conf + ".bus"], stdout=subprocess.PIPE)
                wait_for("a system bus", lambda: daemons[host + ".bus"].stdout.readline().startswith(b"unix:"))
            starts.append(host)
            log = os.path.join(artefacts, f"avahi-daemon-{host}-{len(starts)}.log")
            daemons[host] = desktop.spawn("avahi-daemon", [
                "nsenter", net, "unshare", "--mount", "sh", "-c",
                "mount -t tmpfs tmpfs /run && exec avahi-daemon --no-drop-root --no-chroot --no-rlimits -f " + conf],
                env=env, stderr=open(log, "wb"))
            try:
                wait_for("avahi-daemon", lambda: "startup complete" in open(log).read(), timeout=START_TIMEOUT)
            except Failure:
                if len(starts) > 2:  # once one has run here, one that does not start again is a fault
                    raise
                skip(f"avahi-daemon did not start: {open(log).read()}")
            return env

        avahi, other = start_avahi(HOST), start_avahi("other", addresses="no")
        first = "Kestrim on " + HOST
        taken = desktop.spawn("avahi-publish", ["avahi-publish", "-s", first, "_http._tcp", "9"], env=other)
        try:
            wait_for("the other device's service", lambda: first in browse(avahi)[0], timeout=20)
        except Failure as failure:
            skip(f"loopback cannot be announced on this machine ({failure})")

        def start(label):
            home = desktop.new_config_home(label)
            with socket.socket() as probe:
                probe.bind(("127.0.0.1", 0))
                port = probe.getsockname()[1]
            write_conf(home, f"[Remote]\nEnabled=True\nPort={port}\nViewerToken={VIEWER}\nControlToken={CONTROL}\n")
            bus = {"DBUS_SYSTEM_BUS_ADDRESS": avahi["DBUS_SYSTEM_BUS_ADDRESS"]}
            return desktop.start_kestrim(home, log_name=label, extra_env=bus), port

        def announced(name, port):
            found, out = browse(avahi)
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
            for name in (HOST, HOST + ".bus") if bus_too else (HOST,):
                desktop._end(daemons[name])
            wait_for("the program on without a daemon", lambda: kestrim.alive() and host_status(port, "localhost"))
            start_avahi(HOST, bus_too=bus_too)
            wait_for("the announcement again", lambda: announced(first, port), timeout=30)
        kestrim.proc.terminate()
        check(kestrim.wait_exit() == 0, "the program did not end cleanly")
        wait_for("the announcement gone with the program", lambda: not announced(first, port), timeout=20)


if __name__ == "__main__":
    raise SystemExit(main(test))
