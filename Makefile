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

format:
	@git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	@rm -rf build
