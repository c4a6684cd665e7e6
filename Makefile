# Set-up, build and test entry points. Every target installs what it needs first.
BUILD ?= build
SANITIZE_BUILD ?= build-sanitize
JOBS ?= $(shell nproc)
CONFIG ?= configs/default.ini
FUZZ_BUILD ?= build-fuzz
FUZZ_SECONDS ?= 300
FUZZ_TARGETS = fuzz_config fuzz_overrides fuzz_trace_line
PREFIX ?= /usr/local
CONFIGURE = cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release

export ASAN_OPTIONS = detect_leaks=1:halt_on_error=1:check_initialization_order=1:strict_init_order=1
export UBSAN_OPTIONS = halt_on_error=1:print_stacktrace=1

.PHONY: deps configure programs build run manpages install package test test-sanitize fuzz bench clean

# What building and running need; each other target adds what it uses itself
# (scripts/install-deps lists them by purpose).
deps:
	scripts/install-deps run

configure: deps
	$(CONFIGURE)

# The library and the two programs only: what `make run` needs.
programs: configure
	cmake --build $(BUILD) -j $(JOBS) --target quorsim_program quorbench

build: configure
	cmake --build $(BUILD) -j $(JOBS)

run: programs
	$(BUILD)/quorsim $(CONFIG)

# The programs and their manual pages (help2man).
manpages: programs
	scripts/install-deps package
	$(CONFIGURE)
	cmake --build $(BUILD) -j $(JOBS) --target quorsim_manpages

# The library, headers, CMake and pkg-config files, programs, tools, manual pages,
# configs, traces and documents under PREFIX; or all of it as the Debian packages
# libquorsim0, libquorsim-dev and quorsim in $(BUILD).
install: manpages
	cmake --install $(BUILD) --prefix $(PREFIX)

package: manpages
	cd $(BUILD) && cpack

# The package tests make the Debian packages and check them with lintian.
test:
	scripts/install-deps test
	$(CONFIGURE)
	cmake --build $(BUILD) -j $(JOBS)
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

test-sanitize:
	scripts/install-deps sanitize
	cmake -S . -B $(SANITIZE_BUILD) -DCMAKE_BUILD_TYPE=Sanitize
	cmake --build $(SANITIZE_BUILD) -j $(JOBS)
	cd $(SANITIZE_BUILD) && ctest --output-on-failure -j $(JOBS)

# Every input reader under libFuzzer with AddressSanitizer and UBSan, FUZZ_SECONDS each.
fuzz:
	scripts/install-deps fuzz
	CC=clang CXX=clang++ cmake -S . -B $(FUZZ_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DQUORSIM_FUZZ=ON -DQUORSIM_BUILD_TESTS=OFF
	cmake --build $(FUZZ_BUILD) -j $(JOBS) --target $(FUZZ_TARGETS)
	scripts/run-fuzz $(FUZZ_BUILD) $(FUZZ_SECONDS) $(FUZZ_TARGETS)

bench:
	scripts/install-deps bench
	bench/run

clean:
	rm -rf $(BUILD) $(SANITIZE_BUILD) $(FUZZ_BUILD)
