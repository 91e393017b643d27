"""Makes the Debian package from source as `make package` does: the release preset, built into its own folder.

    build_package.py CMAKE CPACK SOURCE-FOLDER BUILD-FOLDER OUTPUT-FOLDER

Whatever build the tests run in (the dev build is a debug build, without the hardening the package needs),
the package they look at is the one a user makes. Only what goes into it is built. The output folder is
emptied first, so the tests that follow can never pick up a package left over from an earlier run. Prints
the path of the one package made.
"""

import glob
import os
import shutil
import subprocess
import sys


def step(what, argv, cwd=None):
    result = subprocess.run(argv, cwd=cwd, stdin=subprocess.DEVNULL, capture_output=True, text=True)
    if result.returncode != 0:
        print(result.stdout[-20000:] + result.stderr[-20000:], file=sys.stderr)
        print(f"FAIL: {what} ended with {result.returncode}: {' '.join(argv)}", file=sys.stderr)
    return result


def main(argv):
    if len(argv) != 5:
        print(__doc__, file=sys.stderr)
        return 2
    cmake, cpack, source, build, output = argv
    shutil.rmtree(output, ignore_errors=True)
    os.makedirs(output)
    configured = step("configuring", [cmake, "--preset", "release", "-B", build,
                                      "-DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON"], cwd=source)
    if configured.returncode != 0:
        return 1
    built = step("building", [cmake, "--build", build, "-j", str(os.cpu_count() or 2),
                              "--target", "kestrim", "kestrim_icons", "kestrim_docs"])
    if built.returncode != 0:
        return 1
    packed = step("cpack", [cpack, "--config", os.path.join(build, "CPackConfig.cmake"), "-B", output])
    if packed.returncode != 0:
        return 1
    packages = glob.glob(os.path.join(output, "*.deb"))
    if len(packages) != 1:
        print(packed.stdout, file=sys.stderr)
        print(f"FAIL: expected one package in {output}, found {packages}", file=sys.stderr)
        return 1
    print(packages[0])
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
