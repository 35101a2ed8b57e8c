# The two commands: `make run` and `make test`. `make test SAN=1` builds with
# AddressSanitizer and UBSan into its own folder.
JOBS ?= $(shell nproc)
ifeq ($(SAN),1)
BUILD ?= build-san
CMAKE_ARGS += -DMOSSBRIDGE_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug
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
	@cmake --build $(BUILD) -j $(JOBS)

test: build
	@cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

run: build
	$(BUILD)/mossbridge $(ARGS)

clean:
	rm -rf build build-san
