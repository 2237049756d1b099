# Front door: `make test` installs what is missing, configures, builds and runs every test.
.PHONY: all deps build run demo test test-tsan test-release bench format tidy clean package

JOBS ?= $(shell nproc)

all: build

deps:
	@scripts/install-deps

build: deps
	cmake --preset dev
	cmake --build --preset dev -j $(JOBS)

# Trains on the demo recording (twelve piano notes, C4 ... B4) and prints the log; each
# note pattern dialog is answered Next after half a second.
demo: build
	build/dev/bin/sonavel-train --input res/demo.wav --first C4 --last B4 --think 0.5 \
	  --out build/demo --trace build/demo/trace.jsonl

# The desktop program; without a display, the trainer's demo instead.
run: build
	@if [ -n "$$DISPLAY$$WAYLAND_DISPLAY" ]; then build/dev/bin/sonavel; \
	else echo "No display: running the trainer's demo instead."; $(MAKE) --no-print-directory demo; fi

SAN_ENV = LSAN_OPTIONS=suppressions=$(CURDIR)/tests/lsan.supp:print_suppressions=0 \
	  TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 suppressions=$(CURDIR)/tests/tsan.supp"

test: build
	$(SAN_ENV) ctest --preset dev -j $(JOBS)

test-tsan: deps
	cmake --preset tsan
	cmake --build --preset tsan -j $(JOBS)
	$(SAN_ENV) ctest --preset tsan -j $(JOBS)

test-release: deps
	cmake --preset release
	cmake --build --preset release -j $(JOBS)
	ctest --preset release -j $(JOBS)

# The Debian package, from the release build: build/package/sonavel_<version>_<arch>.deb.
package: deps
	cmake --preset release
	cmake --build --preset release -j $(JOBS)
	cpack --config build/release/CPackConfig.cmake -B build/package
	@echo "Package: $$(ls -t build/package/*.deb | head -n 1)"

# Speed figures; never part of the test run.
bench: deps
	bench/run --all

format:
	git ls-files '*.cpp' '*.h' | xargs clang-format -i

tidy: build
	git ls-files 'src/*.cpp' | xargs clang-tidy -p build/dev --quiet

clean:
	rm -rf build
