# Quovix: `make run` starts the window (or the console front end without a
# display), `make test` builds and runs every test.
BUILD ?= build
# The release build is what runs, is tested and is measured.
BUILD_TYPE ?= Release
FUZZ_BUILD ?= build-fuzz
# Seconds per fuzz target: the short run in make test, the long one of make fuzz.
FUZZ_TEST_SECONDS ?= 10
FUZZ_SECONDS ?= 300
ASAN_BUILD ?= build-asan
# ON makes every compiler warning an error (CI builds so).
WERROR ?= OFF
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
ARGS ?=

.PHONY: all deps build run test test-asan fuzz fuzz-run bench package clean

all: build

deps:
	@./scripts/install-deps

# Configuring every time is cheap and lets the Qt code generators see new
# sources at once.
build: deps
	cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) -DQUOVIX_WERROR=$(WERROR) >/dev/null
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
	@$(MAKE) --no-print-directory fuzz-run FUZZ_SECONDS=$(FUZZ_TEST_SECONDS)
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

# The unit and console tests (fuzz corpora included) built with AddressSanitizer
# and UndefinedBehaviorSanitizer in a folder of their own; any finding fails
# its test. The window tests are left out: Qt's own libraries are not built
# with the sanitizers and make them noisy.
ASAN_ENV = ASAN_OPTIONS=detect_leaks=1:halt_on_error=1:abort_on_error=0 \
  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
test-asan: deps
	cmake -S . -B $(ASAN_BUILD) -G Ninja -DQUOVIX_SANITIZE=ON -DQUOVIX_GUI=OFF -DQUOVIX_WERROR=$(WERROR) \
	  -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS_DEBUG="-O1 -g1" -DCMAKE_C_FLAGS_DEBUG="-O1 -g1" >/dev/null
	cmake --build $(ASAN_BUILD) -j $(JOBS)
	cd $(ASAN_BUILD) && $(ASAN_ENV) ctest --output-on-failure -j $(JOBS)

# Every libFuzzer target for FUZZ_SECONDS, starting from its corpus in
# tests/fuzz/corpus/<target>/ (what it finds on the way stays in the build
# folder). An input that crashes a target is put into that corpus, where the
# FuzzCorpus.<target> test runs it from then on.
fuzz:
	@$(MAKE) --no-print-directory fuzz-run

fuzz-run: deps
	@if ! command -v clang++ >/dev/null; then echo "fuzz: clang++ missing, skipped"; exit 0; fi; \
	set -e; \
	[ -f $(FUZZ_BUILD)/build.ninja ] || CC=clang CXX=clang++ cmake -S . -B $(FUZZ_BUILD) -G Ninja \
	  -DQUOVIX_FUZZ=ON -DQUOVIX_GUI=OFF -DQUOVIX_TESTS=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null; \
	cmake --build $(FUZZ_BUILD) -j $(JOBS); \
	for f in $(FUZZ_BUILD)/bin/fuzz_*; do \
	  [ -x "$$f" ] || continue; \
	  name=$$(basename $$f); seeds=tests/fuzz/corpus/$$name; from=""; \
	  [ -d $$seeds ] && from=$$seeds || echo "fuzz: $$name has no corpus in $$seeds/"; \
	  echo "fuzz: $$name for $(FUZZ_SECONDS) s from $$(ls $$seeds 2>/dev/null | wc -l) corpus files"; \
	  mkdir -p $(FUZZ_BUILD)/corpus-$$name $(FUZZ_BUILD)/found-$$name; \
	  rm -f $(FUZZ_BUILD)/found-$$name/*; \
	  "$$f" -max_total_time=$(FUZZ_SECONDS) -max_len=4096 -rss_limit_mb=2048 -timeout=10 -print_final_stats=0 \
	    -artifact_prefix=$(FUZZ_BUILD)/found-$$name/ $(FUZZ_BUILD)/corpus-$$name $$from \
	    2>$(FUZZ_BUILD)/$$name.log || { \
	    tail -n 40 $(FUZZ_BUILD)/$$name.log; \
	    for a in $(FUZZ_BUILD)/found-$$name/*; do \
	      [ -f "$$a" ] || continue; mkdir -p $$seeds; \
	      cp "$$a" $$seeds/$$(basename "$$a"); \
	      echo "fuzz: $$seeds/$$(basename "$$a") added: fix the fault, keep the file (FuzzCorpus.$$name runs it)"; \
	    done; exit 1; }; \
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
	rm -rf $(BUILD) $(FUZZ_BUILD) $(ASAN_BUILD) $(BUILD)-bench
