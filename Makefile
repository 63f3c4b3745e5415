# The two commands of the README, and a few more.
#   make demo   builds a demo archive, plays it through the plug-in, writes demo/heard.wav
#   make test   builds every preset and runs every test (what CI runs)
#   make bench  runs the benchmarks;  make fuzz  fuzzes each parser for longer

SHELL := /bin/bash
JOBS ?= $(shell nproc)
PRESETS := native native-asan native-tsan win32 win64
# Each stage of the tests says how long it took.
TIMED := bash scripts/timed.sh

.PHONY: demo test test-fuzz test-win32-guest setup setup-demo build format-check bench fuzz clean $(addprefix build-,$(PRESETS)) $(addprefix test-,$(PRESETS))

setup:
	@bash scripts/setup.sh test

# The demo needs a compiler, CMake and Ninja only.
setup-demo:
	@bash scripts/setup.sh demo

# Static pattern rules: make looks for no implicit rule for a phony target.
$(addprefix build-,$(PRESETS)): build-%: setup
	@echo "== Building $*"
	@cmake --preset $* >/dev/null
	@$(TIMED) build-$* cmake --build --preset $* -j $(JOBS)

$(addprefix test-,$(PRESETS)): test-%: build-%
	@echo "== Testing $*"
	@$(TIMED) test-$* ctest --preset $* -j $(JOBS) --timeout 600

# The Windows programs are tested under Wine against the native build's tools:
# the 32-bit product where the machine can run 32-bit programs, and the same
# sources built for 64-bit Windows in any case.
test-win32: build-native
test-win64: build-native

# The win32 build's Windows runtime tests once more, in an emulated machine
# whose kernel runs 32-bit programs whatever this one's does (tests/vm), all
# in one boot; its disk image is made on the first run and cached.
test-win32-guest: build-win32 build-native
	@echo "== Testing win32 in the emulated machine"
	@$(TIMED) test-win32-guest bash tests/vm/win32_tests.sh build/win32

build: $(addprefix build-,$(PRESETS))

test: setup format-check test-native test-native-asan test-native-tsan test-win32 test-win32-guest test-win64 test-fuzz
	@echo "All tests passed."

format-check:
	@echo "== Checking the format"
	@files=$$(git ls-files '*.cpp' '*.h'); \
	if ! clang-format --dry-run --Werror $$files; then \
	  echo "Formatting differs from .clang-format (run clang-format -i)"; exit 1; fi

# Only the plug-in, mixtool and kestrel-play (the demo preset), not the tests.
demo: setup-demo
	@echo "== Building the demo's programs"
	@cmake --preset demo >/dev/null
	@$(TIMED) build-demo cmake --build --preset demo -j $(JOBS)
	@bash scripts/demo.sh build/demo demo

bench: build-native
	@bash scripts/bench.sh build/native

fuzz: setup
	@bash scripts/fuzz.sh long

# About a minute of fuzzing per target, in the clang fuzz build.
test-fuzz: setup
	@$(TIMED) test-fuzz bash scripts/fuzz.sh short

clean:
	rm -rf build demo
