# The two commands of the README: `make run` and `make test`. Both set up a fresh Debian 12 machine first.
PRESET ?= dev
BUILD_DIR := build/$(PRESET)
JOBS ?= $(shell nproc)
# Debian's own Python, which has the packages of tools/packages.txt (python3-websockets) whatever else is on PATH.
PYTHON ?= /usr/bin/python3

.PHONY: all deps configure build run check test test-dev test-asan test-fuzz fuzz format bench clean

all: build

deps:
	@tools/deps.sh

configure: deps
	@cmake --preset $(PRESET) >/dev/null

build: configure
	@cmake --build --preset $(PRESET) -j $(JOBS)

run: build
	@if [ -z "$$DISPLAY" ] && [ -z "$$WAYLAND_DISPLAY" ]; then \
	    echo "No display found. Kestrim is a desktop program; start it on a desktop, or on a virtual one with:"; \
	    echo "    xvfb-run -a $(BUILD_DIR)/kestrim"; \
	    exit 1; \
	fi
	@$(BUILD_DIR)/kestrim

# For everyday work: the dev build, then the unit and window tests only (offscreen). The end-to-end,
# package and soak tests, the sanitizer build and the fuzz targets are left to `make test`.
check: build
	@cd $(BUILD_DIR) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j $(JOBS) -LE '^(e2e|package|soak)$$'

# The whole suite, then again under AddressSanitizer and UndefinedBehaviorSanitizer (without the slow
# end-to-end, package and soak tests), and a short run of every fuzz target. The plain suite runs last, so
# its summary closes the output.
test: test-fuzz test-asan test-dev

test-dev: build
	@cd $(BUILD_DIR) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j $(JOBS)

# Ten minutes of random keys and resizes against the real program on a virtual display; not part of `make test`.
.PHONY: soak
soak: build
	@cd $(BUILD_DIR) && ctest -C soak -L soak --output-on-failure

test-asan: deps
	@cmake --preset asan >/dev/null
	@cmake --build --preset asan -j $(JOBS)
	@ctest --preset asan -j $(JOBS)

# FUZZ_SECONDS per target: about a minute in all for `make test`, ten minutes each for `make fuzz`.
test-fuzz: FUZZ_SECONDS ?= 12
fuzz: FUZZ_SECONDS ?= 600
test-fuzz fuzz: deps
	@cmake --preset fuzz >/dev/null
	@cmake --build --preset fuzz -j $(JOBS)
	@fuzz/run.sh $(FUZZ_SECONDS) build/fuzz

# Micro-benchmarks, then start-up, memory, CPU and read-out accuracy on a virtual display against a
# minimal Qt window, then the figures of sharing on the network and of OSC (about 23 minutes; QUICK=1 for short
# measurement windows, RUNS=n for n runs instead of 5).
# See BENCHMARKS.md.
bench: deps
	@cmake --preset release >/dev/null
	@cmake --build --preset release -j $(JOBS) --target kestrim kestrim_bench kestrim_baseline kestrim_sharingbaseline
	@build/release/bench/kestrim_bench
	@$(PYTHON) bench/process_figures.py --kestrim build/release/kestrim --baseline build/release/bench/kestrim_baseline \
	    --json build/release/process_figures.json $(if $(QUICK),--quick) $(if $(RUNS),--runs $(RUNS))
	@$(PYTHON) bench/remote_figures.py --kestrim build/release/kestrim \
	    --reference build/release/bench/kestrim_sharingbaseline --json build/release/remote_figures.json \
	    $(if $(QUICK),--window 10 --runs 1)
	@$(PYTHON) bench/osc_figures.py --kestrim build/release/kestrim --json build/release/osc_figures.json \
	    $(if $(QUICK),--window 10)

# The Debian package, from the release build: build/release/kestrim_2.0_amd64.deb. Only what goes into it
# (the program, its sound module, icons, changelog and manual page) is built for it: cpack would otherwise
# build every test and benchmark first.
.PHONY: package
package: deps
	@cmake --preset release -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON >/dev/null
	@cmake --build --preset release -j $(JOBS) --target kestrim kestrim_icons kestrim_docs
	@cd build/release && cpack --config CPackConfig.cmake -B . | grep -E '^CPack: - package: .* generated'

format:
	@git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	@rm -rf build
