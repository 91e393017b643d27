# The two commands of the README: `make run` and `make test`. Both set up a fresh Debian 12 machine first.
PRESET ?= dev
BUILD_DIR := build/$(PRESET)
JOBS ?= $(shell nproc)

.PHONY: all deps configure build run test format bench clean

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

test: build
	@cd $(BUILD_DIR) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j $(JOBS)

# The Debian package, from the release build: build/release/kestrim_2.0_amd64.deb. Only the program and its
# icons are built for it: cpack would otherwise build every test and benchmark first.
.PHONY: package
package: deps
	@cmake --preset release -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON >/dev/null
	@cmake --build --preset release -j $(JOBS) --target kestrim kestrim_icons
	@cd build/release && cpack --config CPackConfig.cmake -B . | grep -E '^CPack: - package: .* generated'

format:
	@git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	@rm -rf build
