# Set-up, build and test entry points. Every target installs what it needs first.
BUILD ?= build
SANITIZE_BUILD ?= build-sanitize
JOBS ?= $(shell nproc)
CONFIG ?= configs/default.ini
FUZZ_BUILD ?= build-fuzz
FUZZ_SECONDS ?= 300
FUZZ_TARGETS = fuzz_config fuzz_overrides fuzz_trace_line
PREFIX ?= /usr/local

export ASAN_OPTIONS = detect_leaks=1:halt_on_error=1:check_initialization_order=1:strict_init_order=1
export UBSAN_OPTIONS = halt_on_error=1:print_stacktrace=1

.PHONY: deps configure programs build run install package test test-sanitize fuzz bench clean

deps:
	scripts/install-deps

configure: deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release

# The library and the two programs only: what `make run` needs.
programs: configure
	cmake --build $(BUILD) -j $(JOBS) --target quorsim_program quorbench

build: configure
	cmake --build $(BUILD) -j $(JOBS)

run: programs
	$(BUILD)/quorsim $(CONFIG)

# The library, headers, CMake and pkg-config files, programs, configs and traces
# under PREFIX; or all of it as a Debian package in $(BUILD).
install: programs
	cmake --install $(BUILD) --prefix $(PREFIX)

package: programs
	cd $(BUILD) && cpack

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

test-sanitize: deps
	cmake -S . -B $(SANITIZE_BUILD) -DCMAKE_BUILD_TYPE=Sanitize
	cmake --build $(SANITIZE_BUILD) -j $(JOBS)
	cd $(SANITIZE_BUILD) && ctest --output-on-failure -j $(JOBS)

# Every input reader under libFuzzer with AddressSanitizer and UBSan, FUZZ_SECONDS each.
fuzz: deps
	CC=clang CXX=clang++ cmake -S . -B $(FUZZ_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DQUORSIM_FUZZ=ON -DQUORSIM_BUILD_TESTS=OFF
	cmake --build $(FUZZ_BUILD) -j $(JOBS) --target $(FUZZ_TARGETS)
	scripts/run-fuzz $(FUZZ_BUILD) $(FUZZ_SECONDS) $(FUZZ_TARGETS)

bench: deps
	bench/run

clean:
	rm -rf $(BUILD) $(SANITIZE_BUILD) $(FUZZ_BUILD)
