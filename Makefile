# Stemvolta: top-level commands. See README.md.
JOBS ?= $(shell nproc)
PY ?= /usr/bin/python3

.PHONY: all deps build test test-release test-asan test-tsan bench demo models clean

all: build

deps:
	scripts/install-deps

build:
	cmake -S . -B build/release -DCMAKE_BUILD_TYPE=Release
	cmake --build build/release -j$(JOBS)

# Two full builds, both must pass: optimised, then AddressSanitizer+UBSan.
# The inference engine's tests also run under ThreadSanitizer.
test: deps
	$(MAKE) test-release
	$(MAKE) test-asan
	$(MAKE) test-tsan

test-release:
	cmake -S . -B build/release -DCMAKE_BUILD_TYPE=Release
	cmake --build build/release -j$(JOBS)
	ctest --test-dir build/release --output-on-failure -j$(JOBS)

test-asan:
	cmake -S . -B build/asan -DCMAKE_BUILD_TYPE=Debug "-DCMAKE_CXX_FLAGS_DEBUG=-O1 -g" "-DCMAKE_C_FLAGS_DEBUG=-O1 -g" -DSTEMVOLTA_SANITIZE=ON
	cmake --build build/asan -j$(JOBS)
	ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	  ctest --test-dir build/asan --output-on-failure -j$(JOBS) -LE no-sanitize

test-tsan:
	cmake -S . -B build/tsan -DCMAKE_BUILD_TYPE=Debug "-DCMAKE_CXX_FLAGS_DEBUG=-O1 -g" -DSTEMVOLTA_TSAN=ON
	cmake --build build/tsan -j$(JOBS) --target nn_tests
	TSAN_OPTIONS=halt_on_error=1 build/tsan/tests/nn_tests

# Separates the bundled demo mix into its four stems (see tools/render/demo.sh).
demo: deps build
	tools/render/demo.sh build/release

# Reproduces the shipped models from nothing: dataset, export, training,
# evaluation (see tools/train/make_models.sh).
models: deps build
	tools/train/make_models.sh build/release

bench: deps
	cmake -S . -B build/bench -DCMAKE_BUILD_TYPE=Release -DSTEMVOLTA_BENCH=ON
	cmake --build build/bench -j$(JOBS)
	@set -e; for b in build/bench/bench/*; do \
	  if [ -x "$$b" ] && [ -f "$$b" ]; then echo "== $$b"; "$$b"; fi; \
	done

clean:
	rm -rf build
