# The two set-up commands (make demo, make test) and the benchmarks.
# Each runs scripts/bootstrap first, which installs what is missing.
BUILD ?= build
JOBS ?= $(shell nproc)

.PHONY: all bootstrap build test demo bench clean

all: build

bootstrap:
	@scripts/bootstrap

build: bootstrap
	@[ -f $(BUILD)/build.ninja ] || cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Release
	cmake --build $(BUILD) -j $(JOBS)

test: build
	ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)

demo: build
	scripts/demo $(BUILD)

bench: build
	cmake --build $(BUILD) --target bench -j $(JOBS)
	$(BUILD)/bin/kestrel-bench
	scripts/bench-build $(BUILD)
	scripts/bench-sizes $(BUILD)
	scripts/bench-install-rollback $(BUILD)

clean:
	rm -rf $(BUILD)
