# The two set-up commands (make demo, make test), the sanitizer run, the
# fuzz targets and the benchmarks. Each runs scripts/bootstrap first, which
# installs what is missing.
BUILD ?= build
SANITIZE ?= build-sanitize
JOBS ?= $(shell nproc)
# Seconds each fuzz target runs under make fuzz.
FUZZ_TIME ?= 60

.PHONY: all bootstrap build test demo bench clean sanitize-build sanitize fuzz

all: build

bootstrap:
	@scripts/bootstrap

build: bootstrap
	@[ -f $(BUILD)/build.ninja ] || cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Release
	cmake --build $(BUILD) -j $(JOBS)

# Every test: those of the main build, then the sanitizer run, so that a
# finding of a fuzz target or of the sanitizers fails it as any test does.
test: build
	ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)
	$(MAKE) --no-print-directory sanitize

# The host side again, built by clang under AddressSanitizer and
# UndefinedBehaviorSanitizer with the fuzz targets, borrowing the Windows
# programs of the main build: the native and tool tests and a short run of
# every fuzz target (10 s each).
sanitize-build: build
	@[ -f $(SANITIZE)/build.ninja ] || CC=clang CXX=clang++ cmake -S . -B $(SANITIZE) -G Ninja \
	  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKESTREL_SANITIZE=ON -DKESTREL_WINDOWS_FROM=$(abspath $(BUILD))
	cmake --build $(SANITIZE) -j $(JOBS)

sanitize: sanitize-build
	ctest --test-dir $(SANITIZE) --output-on-failure -j $(JOBS)

# Every fuzz target for FUZZ_TIME seconds, two at a time; the corpora grow
# in $(SANITIZE)/fuzz from run to run.
fuzz: sanitize-build
	KESTREL_FUZZ_SECONDS=$(FUZZ_TIME) ctest --test-dir $(SANITIZE) -L fuzz --output-on-failure -j 2 \
	  --timeout $$(( $(FUZZ_TIME) * 2 + 600 ))
	@cat $(SANITIZE)/fuzz/*/summary

demo: build
	scripts/demo $(BUILD)

bench: build
	cmake --build $(BUILD) --target bench -j $(JOBS)
	cmake --build $(BUILD)/windows --target kestrel-decode-bench -j $(JOBS)
	[ ! -d $(BUILD)/windows64 ] || cmake --build $(BUILD)/windows64 --target kestrel-decode-bench -j $(JOBS)
	$(BUILD)/bin/kestrel-bench
	scripts/bench-decoder $(BUILD)
	scripts/bench-build $(BUILD)
	scripts/bench-install $(BUILD)
	KESTREL_BENCH_COMPRESSION=lzma scripts/bench-install $(BUILD)
	scripts/bench-sizes $(BUILD)
	scripts/bench-install-rollback $(BUILD)

clean:
	rm -rf $(BUILD) $(SANITIZE)
