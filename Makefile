# The two commands: `make run` and `make test`. `make test SAN=1` builds with
# AddressSanitizer and UBSan into its own folder; `make test SAN=thread` builds
# with ThreadSanitizer into build-tsan and runs the tests of every folder whose
# objects meet more than one thread, and a 30-second run of the application.
JOBS ?= $(shell nproc)
ifeq ($(SAN),1)
BUILD ?= build-san
CMAKE_ARGS += -DMOSSBRIDGE_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug
else ifeq ($(SAN),thread)
BUILD ?= build-tsan
CMAKE_ARGS += -DMOSSBRIDGE_SANITIZE_THREAD=ON -DCMAKE_BUILD_TYPE=Debug
# The folders whose objects are shared between threads: the dispatch core,
# networking, core and installations, every measurement layer, the analytics
# facade and the application (its status refresher's queue, the animation
# clock, the analytics start). The application's run on the shipped scenario
# is the test "mossbridge.headless_run" (only in this build).
TSAN_LIBRARIES = platform_core VadovaUtilities VeredodaCore VeredodaInstallations measurement_storage \
	measurement_messages measurement_interface measurement_rules measurement_audiences measurement_engine \
	VeredodaAnalytics Mossbridge_model Mossbridge_system Mossbridge_pets Mossbridge_settings Mossbridge_app
BUILD_TARGETS = $(addsuffix _tests,$(TSAN_LIBRARIES)) mossbridge
# One test of stack depth is left to the other builds: under TSan its
# 1,100-deep message tree grows past 20 GB of memory; it has no threads.
CTEST_ARGS = -R '^($(subst $() ,|,$(strip $(TSAN_LIBRARIES) mossbridge)))\.' \
	-E 'RuntimeEntityConversion\.DeepNestingFailsInsteadOfExhaustingTheStack'
# A report fails the test (exit status 66); keep both stacks of lock-order
# reports. The suppressions cover only the system's drawing and font
# libraries (see the file); the build's sprite-sheet generator runs with them too.
export TSAN_OPTIONS ?= second_deadlock_stack=1 suppressions=$(CURDIR)/tests/tsan-suppressions.txt
else
BUILD ?= build
CMAKE_ARGS += -DCMAKE_BUILD_TYPE=Debug
endif

.PHONY: all deps configure build test run clean

all: build

deps:
	@scripts/install-deps

configure: deps
	@cmake -S . -B $(BUILD) -G Ninja $(CMAKE_ARGS) >/dev/null

build: configure
	@cmake --build $(BUILD) -j $(JOBS) $(if $(BUILD_TARGETS),--target $(BUILD_TARGETS))

test: build
	@cd $(BUILD) && ctest --output-on-failure -j $(JOBS) $(CTEST_ARGS)

# The application on the in-memory desktop of the shipped scenario; pictures
# of the screen go to $(BUILD)/screens/ (ARGS may override any option, e.g.
# ARGS="--seconds 10"). It builds only the program and its resources (the
# target depends on both); the tests are left to `make test`.
run: configure
	@cmake --build $(BUILD) -j $(JOBS) --target mossbridge
	$(BUILD)/bin/mossbridge --snapshots $(BUILD)/screens $(ARGS)

clean:
	rm -rf build build-san build-tsan build-fuzz

# `make fuzz`: the libFuzzer targets, built with clang into build-fuzz and run
# for FUZZ_SECONDS each, starting from their committed corpora (new inputs go
# to build-fuzz/corpus, not to the tree).
FUZZ_SECONDS ?= 60
FUZZ_FLAGS = -fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer
.PHONY: fuzz
fuzz: deps
	@CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=Debug -DMOSSBRIDGE_FUZZ=ON \
	  -DCMAKE_C_FLAGS="$(FUZZ_FLAGS)" -DCMAKE_CXX_FLAGS="$(FUZZ_FLAGS)" >/dev/null
	@cmake --build build-fuzz --target measurement_messages_fuzz measurement_rules_fuzz measurement_receipt_fuzz -j $(JOBS)
	@mkdir -p build-fuzz/corpus/decode_messages build-fuzz/corpus/run_program build-fuzz/corpus/parse_receipt
	@build-fuzz/fuzz/measurement_messages_fuzz -max_total_time=$(FUZZ_SECONDS) \
	  build-fuzz/corpus/decode_messages fuzz/corpus/decode_messages
	@build-fuzz/fuzz/measurement_rules_fuzz -max_total_time=$(FUZZ_SECONDS) -timeout=10 -rss_limit_mb=4096 \
	  build-fuzz/corpus/run_program fuzz/corpus/run_program
	@build-fuzz/fuzz/measurement_receipt_fuzz -max_total_time=$(FUZZ_SECONDS) \
	  build-fuzz/corpus/parse_receipt fuzz/corpus/parse_receipt
