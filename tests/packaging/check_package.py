"""Checks the Debian package as a user's system would see it: control data, file list, desktop integration.

    check_package.py PACKAGE-FOLDER SOURCE-FOLDER

Every group of checks runs even when an earlier one failed, so one run names every fault it can see.
Only the Python standard library and Debian's own tools (dpkg-deb, desktop-file-validate, appstreamcli,
lintian, hardening-check).
"""

import configparser
import glob
import gzip
import hashlib
import os
import re
import struct
import subprocess
import sys
import tempfile
import xml.etree.ElementTree as ElementTree
import zlib

APP_ID = "org.kestrim.Kestrim"
ICON_SIZES = (16, 32, 48, 64, 128, 256)
SOUNDS = ("Sound1.wav", "Sound2.wav", "Sound3.wav")
# Built as Debian builds its own programs: fortified libc calls, stack protector, PIE, full RELRO.
HARDENED = ("usr/lib/kestrim/kestrim", "usr/lib/kestrim/kestrim-sound.so", "usr/lib/kestrim/kestrim-remote.so")
# Shared libraries the program and its sound module link; dpkg-shlibdeps must have turned each into a
# versioned dependency. They also bring the plugins Qt loads at run time: X11 (libqt6gui6) and the sound
# back ends (libqt6multimedia6); the module's decoders are libsndfile1's. Qt SVG is only a build tool's: the
# program's pictures are rendered then. The network module links Qt Network, libqrencode, avahi's client
# library and liblo (OSC); its WebSockets are its own, and Qt WebSockets is only a test's client.
LINKED_PACKAGES = ("libqt6core6", "libqt6gui6", "libqt6widgets6", "libqt6multimedia6", "libsndfile1", "libc6",
                   "libqt6network6", "libqrencode4", "libavahi-client3", "liblo7")
NOT_LINKED_PACKAGES = ("libqt6websockets6",)
# Loaded by name at run time, so listed by hand: the stand-in for the default digit font "Arial".
RUNTIME_PACKAGES = ("fonts-liberation2",)

EXPECTED_FILES = {
    "usr/bin/kestrim",
    "usr/lib/kestrim/kestrim",
    "usr/lib/kestrim/kestrim-sound.so",
    "usr/lib/kestrim/kestrim-remote.so",
    *(f"usr/lib/kestrim/{s}" for s in SOUNDS),
    f"usr/share/applications/{APP_ID}.desktop",
    f"usr/share/metainfo/{APP_ID}.metainfo.xml",
    "usr/share/doc/kestrim/copyright",
    "usr/share/doc/kestrim/changelog.gz",
    "usr/share/man/man1/kestrim.1.gz",
    f"usr/share/icons/hicolor/scalable/apps/{APP_ID}.svg",
    *(f"usr/share/icons/hicolor/{n}x{n}/apps/{APP_ID}.png" for n in ICON_SIZES),
}


class Failure(AssertionError):
    pass


def check(condition, message):
    if not condition:
        raise Failure(message)


def run(argv):
    return subprocess.run(argv, stdin=subprocess.DEVNULL, capture_output=True, text=True)


def sha256(path):
    with open(path, "rb") as f:
        return hashlib.sha256(f.read()).hexdigest()


def parse_control(text):
    """Field -> value of a control file as `dpkg-deb -f` prints it; continuation lines are kept."""
    fields = {}
    last = None
    for line in text.splitlines():
        if line[:1] in (" ", "\t") and last:
            fields[last] += "\n" + line
        elif ":" in line:
            last, value = line.split(":", 1)
            fields[last] = value.strip()
    return fields


def parse_depends(value):
    """Package name -> the version restriction text ("" when none) of a Depends field."""
    packages = {}
    for item in value.split(","):
        for alternative in item.split("|"):
            m = re.fullmatch(r"\s*([a-z0-9][a-z0-9.+-]*)(?::\w+)?\s*(\(([^)]*)\))?\s*", alternative)
            check(m, f"Depends holds an entry that is not a package: {alternative!r}")
            # A name listed twice keeps its versioned entry.
            if not packages.get(m.group(1)):
                packages[m.group(1)] = m.group(3) or ""
    return packages


def png_pixels(path):
    """(width, height, alpha values) of an 8-bit, non-interlaced RGBA or RGB PNG."""
    with open(path, "rb") as f:
        data = f.read()
    check(data[:8] == b"\x89PNG\r\n\x1a\n", f"{path} is not a PNG file")
    pos = 8
    idat = b""
    header = None
    while pos < len(data):
        length, kind = struct.unpack(">I4s", data[pos : pos + 8])
        body = data[pos + 8 : pos + 8 + length]
        if kind == b"IHDR":
            header = struct.unpack(">IIBBBBB", body)
        elif kind == b"IDAT":
            idat += body
        pos += 12 + length
    check(header is not None, f"{path} has no IHDR chunk")
    width, height, depth, colour, _, _, interlace = header
    check(depth == 8 and colour in (2, 6) and interlace == 0,
          f"{path}: unexpected PNG format (depth {depth}, colour type {colour}, interlace {interlace})")
    channels = 4 if colour == 6 else 3
    raw = zlib.decompress(idat)
    stride = width * channels
    previous = bytearray(stride)
    alphas = []
    for row in range(height):
        start = row * (stride + 1)
        kind = raw[start]
        line = bytearray(raw[start + 1 : start + 1 + stride])
        for i in range(stride):
            left = line[i - channels] if i >= channels else 0
            up = previous[i]
            upper_left = previous[i - channels] if i >= channels else 0
            if kind == 1:
                line[i] = (line[i] + left) & 0xFF
            elif kind == 2:
                line[i] = (line[i] + up) & 0xFF
            elif kind == 3:
                line[i] = (line[i] + (left + up) // 2) & 0xFF
            elif kind == 4:
                p = left + up - upper_left
                pa, pb, pc = abs(p - left), abs(p - up), abs(p - upper_left)
                predictor = left if pa <= pb and pa <= pc else (up if pb <= pc else upper_left)
                line[i] = (line[i] + predictor) & 0xFF
            else:
                check(kind == 0, f"{path}: unknown PNG filter {kind}")
        alphas.extend(line[channels - 1 :: channels] if channels == 4 else [255] * width)
        previous = line
    return width, height, alphas


# ---------------------------------------------------------------------------------------------------------


def check_control(package, control):
    arch = run(["dpkg", "--print-architecture"]).stdout.strip()
    check(os.path.basename(package) == f"kestrim_2.0_{arch}.deb",
          f"package file is named {os.path.basename(package)}, expected kestrim_2.0_{arch}.deb")
    expected = {"Package": "kestrim", "Version": "2.0", "Architecture": arch, "Section": "utils",
                "Priority": "optional"}
    for field, value in expected.items():
        check(control.get(field) == value, f"control field {field} is {control.get(field)!r}, expected {value!r}")
    check(re.fullmatch(r".+ <[^@\s]+@[^@\s]+>", control.get("Maintainer", "")),
          f"Maintainer must be a name and an address: {control.get('Maintainer')!r}")
    description = control.get("Description", "")
    check("\n" in description and len(description.split("\n", 1)[1].strip()) > 40,
          f"Description needs a synopsis and a long description: {description!r}")


def check_depends(control):
    depends = parse_depends(control.get("Depends", ""))
    for name in RUNTIME_PACKAGES:
        check(name in depends, f"Depends lacks {name}: {control.get('Depends')!r}")
    for name in LINKED_PACKAGES:
        # A version restriction shows the entry came from the libraries' symbols files, not from a hand list.
        check(depends.get(name, "").startswith(">="),
              f"Depends lacks a versioned {name} (dpkg-shlibdeps did not run?): {control.get('Depends')!r}")
    for name in NOT_LINKED_PACKAGES:
        check(name not in depends, f"Depends has {name}, which nothing installed links: {control.get('Depends')!r}")


def check_file_list(package):
    listing = run(["dpkg-deb", "-c", package])
    check(listing.returncode == 0, f"dpkg-deb -c failed: {listing.stderr}")
    files = {}
    for line in listing.stdout.splitlines():
        # perms owner/group size date time ./path [-> target]
        m = re.fullmatch(r"(\S+)\s+(\S+)\s+\d+\s+\S+\s+\S+\s+\./(.*?)(?: -> (.*))?", line)
        check(m, f"unexpected dpkg-deb -c line: {line!r}")
        mode, owner, path, target = m.groups()
        check(owner == "root/root", f"{path} belongs to {owner}, expected root/root")
        if mode.startswith("d"):
            check(mode == "drwxr-xr-x", f"folder {path} has mode {mode}, expected drwxr-xr-x")
            continue
        files[path] = (mode, target)
    check(set(files) == EXPECTED_FILES,
          "package files differ from the expected layout: extra " + repr(sorted(set(files) - EXPECTED_FILES))
          + ", missing " + repr(sorted(EXPECTED_FILES - set(files))))
    mode, target = files["usr/bin/kestrim"]
    check(mode.startswith("l") and target == "../lib/kestrim/kestrim",
          f"usr/bin/kestrim must be the relative link ../lib/kestrim/kestrim, is {mode} -> {target}")
    check(files["usr/lib/kestrim/kestrim"][0] == "-rwxr-xr-x", "the program is not mode 0755")
    for path, (mode, _) in files.items():
        if path not in ("usr/bin/kestrim", "usr/lib/kestrim/kestrim"):
            check(mode == "-rw-r--r--", f"{path} has mode {mode}, expected -rw-r--r--")


def check_unpacked(root, source):
    link = os.path.join(root, "usr/bin/kestrim")
    real = os.path.join(root, "usr/lib/kestrim/kestrim")
    check(not os.path.isabs(os.readlink(link)), "the link in usr/bin is absolute")
    check(os.path.realpath(link) == os.path.realpath(real), "usr/bin/kestrim does not lead to usr/lib/kestrim/kestrim")
    with open(real, "rb") as f:
        check(f.read(4) == b"\x7fELF", "usr/lib/kestrim/kestrim is not an executable program")
    for sound in SOUNDS:
        check(sha256(os.path.join(root, "usr/lib/kestrim", sound)) == sha256(os.path.join(source, "resources/sounds", sound)),
              f"installed {sound} differs from resources/sounds/{sound}")
    check(sha256(os.path.join(root, "usr/share/doc/kestrim/copyright")) == sha256(os.path.join(source, "LICENSE")),
          "usr/share/doc/kestrim/copyright is not the project's LICENSE")


def check_icons(root, source):
    svg = os.path.join(root, f"usr/share/icons/hicolor/scalable/apps/{APP_ID}.svg")
    check(sha256(svg) == sha256(os.path.join(source, "resources/icons/kestrim.svg")),
          "the scalable icon is not resources/icons/kestrim.svg")
    for size in ICON_SIZES:
        path = os.path.join(root, f"usr/share/icons/hicolor/{size}x{size}/apps/{APP_ID}.png")
        width, height, alphas = png_pixels(path)
        check((width, height) == (size, size), f"{size}x{size} icon is {width}x{height}")
        # The stopwatch fills most of its square; a failed rendering leaves it transparent.
        opaque = sum(1 for a in alphas if a >= 128) / len(alphas)
        check(0.3 < opaque < 1.0, f"{size}x{size} icon is {opaque:.0%} opaque: not a rendering of the stopwatch")


def check_desktop_entry(root, source):
    path = os.path.join(root, f"usr/share/applications/{APP_ID}.desktop")
    result = run(["desktop-file-validate", path])
    check(result.returncode == 0 and not result.stdout.strip(),
          f"desktop-file-validate: {result.stdout}{result.stderr}")
    entry = configparser.ConfigParser(interpolation=None)
    entry.optionxform = str
    entry.read(path, encoding="utf-8")
    e = entry["Desktop Entry"]
    expected = {"Type": "Application", "Name": "Kestrim", "GenericName": "Talk Timer", "Exec": "kestrim",
                "Icon": APP_ID, "Terminal": "false", "StartupWMClass": "kestrim"}
    for key, value in expected.items():
        check(e.get(key) == value, f"desktop entry {key} is {e.get(key)!r}, expected {value!r}")
    check(e.get("Comment"), "desktop entry has no Comment")
    keywords = set(filter(None, e.get("Keywords", "").split(";")))
    check({"timer", "talk", "presentation", "speaker", "stopwatch"} <= keywords, f"desktop Keywords: {keywords}")
    # Wayland compositors match the running window to this file by the name the program gives Qt.
    with open(os.path.join(source, "app/main.cpp"), encoding="utf-8") as f:
        main_cpp = f.read()
    check(f'setDesktopFileName(QStringLiteral("{APP_ID}"))' in main_cpp,
          f"app/main.cpp does not give Qt the desktop file name {APP_ID}")


def check_metainfo(root, control):
    path = os.path.join(root, f"usr/share/metainfo/{APP_ID}.metainfo.xml")
    result = run(["appstreamcli", "validate", "--no-net", path])
    problems = [l for l in result.stdout.splitlines() if re.match(r"\s*[EW]:", l)]
    check(result.returncode == 0 and not problems, f"appstreamcli validate: {result.stdout}{result.stderr}")
    component = ElementTree.parse(path).getroot()
    check(component.findtext("id") == APP_ID, f"metainfo id is {component.findtext('id')!r}")
    launchable = component.find("launchable[@type='desktop-id']")
    check(launchable is not None and launchable.text == f"{APP_ID}.desktop",
          "metainfo does not launch the installed desktop file")
    check(component.findtext("project_license") == "MIT", "metainfo project_license is not MIT")
    releases = [r.get("version") for r in component.iter("release")]
    check(releases and releases[0] == control.get("Version"),
          f"newest metainfo release {releases[:1]} is not the package version {control.get('Version')}")


def check_lintian(package):
    # Errors and warnings are faults to mend; info tags are printed for whoever reads the log.
    result = run(["lintian", "--display-level", ">=info", "--tag-display-limit", "0", package])
    print(result.stdout, end="")
    problems = [line for line in result.stdout.splitlines() if re.match(r"[EW]: ", line)]
    check(result.returncode in (0, 1) and not problems,
          f"lintian found errors or warnings ({result.returncode}):\n" + "\n".join(problems) + result.stderr)


# Calls that the compiler emits itself (copies and fills in the standard library's templates) with sizes it
# cannot know: their fortified forms could check nothing, so hardening-check's "only unprotected functions"
# for an object whose only such calls are these says nothing about how it was built.
BUILTIN_ONLY = {"memcpy", "memmove", "memset"}


def check_hardening(root):
    for path in HARDENED:
        # Not control flow protection: Debian 12 builds none of its own programs with it, and its C
        # library's start files lack the CET property, so no program linked here can show it.
        result = run(["hardening-check", "--nocfprotection", "--verbose", os.path.join(root, path)])
        report = result.stdout + result.stderr
        failed = [line.strip() for line in report.splitlines() if ": no" in line and "(ignored)" not in line]
        unprotected = set(re.findall(r"^\s*unprotected: (\S+)", report, re.M))
        only_builtins = failed and all(line.startswith("Fortify Source functions:") for line in failed) \
            and unprotected <= BUILTIN_ONLY
        check(result.returncode == 0 or only_builtins, f"hardening-check {path}:\n{report}")
        if result.returncode != 0:
            print(f"note {path}: no fortifiable libc call but {sorted(unprotected)} (sizes unknown to the compiler)")


def check_changelog(root, control):
    with gzip.open(os.path.join(root, "usr/share/doc/kestrim/changelog.gz"), "rt", encoding="utf-8") as f:
        first = f.readline()
    m = re.match(r"kestrim \(([^)]+)\) ", first)
    check(m and m.group(1) == control.get("Version"),
          f"the changelog's newest entry {first.strip()!r} is not for version {control.get('Version')}")


def main(argv):
    if len(argv) != 2:
        print(__doc__, file=sys.stderr)
        return 2
    folder, source = argv
    packages = glob.glob(os.path.join(folder, "*.deb"))
    if len(packages) != 1:
        print(f"FAIL: expected one package in {folder}, found {packages}", file=sys.stderr)
        return 1
    package = packages[0]
    info = run(["dpkg-deb", "-f", package])
    if info.returncode != 0:
        print(f"FAIL: dpkg-deb -f {package}: {info.stderr}", file=sys.stderr)
        return 1
    control = parse_control(info.stdout)

    failures = []
    with tempfile.TemporaryDirectory(prefix="kestrim-deb-") as root:
        unpacked = run(["dpkg-deb", "-x", package, root])
        if unpacked.returncode != 0:
            print(f"FAIL: dpkg-deb -x {package}: {unpacked.stderr}", file=sys.stderr)
            return 1
        groups = [
            ("control fields", lambda: check_control(package, control)),
            ("dependencies", lambda: check_depends(control)),
            ("file list", lambda: check_file_list(package)),
            ("unpacked program and sounds", lambda: check_unpacked(root, source)),
            ("icons", lambda: check_icons(root, source)),
            ("desktop entry", lambda: check_desktop_entry(root, source)),
            ("AppStream metadata", lambda: check_metainfo(root, control)),
            ("changelog", lambda: check_changelog(root, control)),
            ("hardening", lambda: check_hardening(root)),
            ("lintian", lambda: check_lintian(package)),
        ]
        for name, group in groups:
            try:
                group()
                print(f"ok   {name}")
            except (Failure, OSError, KeyError) as failure:
                failures.append(name)
                print(f"FAIL {name}: {failure}", file=sys.stderr)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
