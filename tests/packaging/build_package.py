"""Makes the Debian package from the build tree the tests run in, as `make package` does from the release build.

    build_package.py CPACK CPACK-CONFIG OUTPUT-FOLDER

The output folder is emptied first, so the tests that follow can never pick up a package left over from an
earlier run. Prints the path of the one package made.
"""

import glob
import os
import shutil
import subprocess
import sys


def main(argv):
    if len(argv) != 3:
        print(__doc__, file=sys.stderr)
        return 2
    cpack, config, output = argv
    shutil.rmtree(output, ignore_errors=True)
    os.makedirs(output)
    result = subprocess.run([cpack, "--config", config, "-B", output], stdin=subprocess.DEVNULL,
                            capture_output=True, text=True)
    if result.returncode != 0:
        print(result.stdout + result.stderr, file=sys.stderr)
        print(f"FAIL: cpack ended with {result.returncode}", file=sys.stderr)
        return 1
    packages = glob.glob(os.path.join(output, "*.deb"))
    if len(packages) != 1:
        print(result.stdout, file=sys.stderr)
        print(f"FAIL: expected one package in {output}, found {packages}", file=sys.stderr)
        return 1
    print(packages[0])
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
