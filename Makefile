# Quovix: `make run` starts the window (or the console front end without a
# display), `make test` builds and runs every test.
BUILD ?= build
# The release build is what runs, is tested and is measured.
BUILD_TYPE ?= Release
FUZZ_BUILD ?= build-fuzz
FUZZ_SECONDS ?= 15
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
ARGS ?=

.PHONY: all deps build run test fuzz bench package clean

all: build

deps:
	@./scripts/install-deps

# Configuring every time is cheap and lets the Qt code generators see new
# sources at once.
build: deps
	cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) >/dev/null
	cmake --build $(BUILD) -j $(JOBS)

run: build
	@if [ -n "$$DISPLAY$$WAYLAND_DISPLAY" ] && [ -x $(BUILD)/bin/Quovix ]; then \
	  exec $(BUILD)/bin/Quovix $(ARGS); \
	elif [ -z "$(strip $(ARGS))" ]; then \
	  exec $(BUILD)/bin/quovix-cli /Own; \
	else \
	  exec $(BUILD)/bin/quovix-cli $(ARGS); \
	fi

# The fuzzers run first, so the test summary closes the output.
test: build
	@$(MAKE) --no-print-directory fuzz
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

# Builds the libFuzzer targets with clang and runs each for a short time.
fuzz: deps
	@if ! command -v clang++ >/dev/null; then echo "fuzz: clang++ missing, skipped"; exit 0; fi; \
	set -e; \
	[ -f $(FUZZ_BUILD)/build.ninja ] || CC=clang CXX=clang++ cmake -S . -B $(FUZZ_BUILD) -G Ninja \
	  -DQUOVIX_FUZZ=ON -DQUOVIX_GUI=OFF -DQUOVIX_TESTS=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null; \
	cmake --build $(FUZZ_BUILD) -j $(JOBS); \
	for f in $(FUZZ_BUILD)/bin/fuzz_*; do \
	  [ -x "$$f" ] || continue; \
	  echo "fuzz: $$(basename $$f) for $(FUZZ_SECONDS) s"; \
	  mkdir -p $(FUZZ_BUILD)/corpus-$$(basename $$f); \
	  "$$f" -max_total_time=$(FUZZ_SECONDS) -max_len=4096 -rss_limit_mb=2048 -print_final_stats=0 \
	    -artifact_prefix=$(FUZZ_BUILD)/ $(FUZZ_BUILD)/corpus-$$(basename $$f) 2>$(FUZZ_BUILD)/$$(basename $$f).log \
	    || { tail -n 40 $(FUZZ_BUILD)/$$(basename $$f).log; exit 1; }; \
	done

# The Debian package (CPack) in $(BUILD)/, then lintian's verdict on it.
package: build
	rm -f $(BUILD)/quovix_*.deb
	cd $(BUILD) && cpack -G DEB >/dev/null
	@deb=$$(ls $(BUILD)/quovix_*.deb); echo "package: $$deb"; \
	if command -v lintian >/dev/null; then lintian --fail-on error $$deb; \
	else echo "package: lintian missing, not checked"; fi

# Builds the benchmarks (run them by hand: $(BUILD)-bench/bin/bench_*).
bench: deps
	cmake -S . -B $(BUILD)-bench -G Ninja -DQUOVIX_BENCH=ON -DQUOVIX_TESTS=OFF -DCMAKE_BUILD_TYPE=$(BUILD_TYPE)
	cmake --build $(BUILD)-bench -j $(JOBS)

clean:
	rm -rf $(BUILD) $(FUZZ_BUILD) $(BUILD)-bench
