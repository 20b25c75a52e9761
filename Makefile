# The two commands of the README: `make run` and `make test`.
JOBS ?= $(shell nproc)
BUILD ?= build
SAN_BUILD ?= build-san
TSAN_BUILD ?= build-tsan

.PHONY: all bootstrap configure build run test test-fast test-san test-tsan bench clean

all: build

bootstrap:
	@tools/bootstrap

configure: bootstrap
	@cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Debug >/dev/null

build: configure
	@cmake --build $(BUILD) -j $(JOBS)

# Until the desktop application exists, the command-line front end is the entry point.
run: build
	@if [ -x $(BUILD)/melodex ]; then $(BUILD)/melodex; else $(BUILD)/melodex-cli --help; fi

test-fast: build
	@ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)

test-san: bootstrap
	@cmake -S . -B $(SAN_BUILD) -DCMAKE_BUILD_TYPE=Debug -DMELODEX_SANITIZE=address,undefined -DMELODEX_BUILD_BENCH=OFF >/dev/null
	@cmake --build $(SAN_BUILD) -j $(JOBS)
	@ctest --test-dir $(SAN_BUILD) --output-on-failure -j $(JOBS)

test-tsan: bootstrap
	@cmake -S . -B $(TSAN_BUILD) -DCMAKE_BUILD_TYPE=Debug -DMELODEX_SANITIZE=thread -DMELODEX_BUILD_BENCH=OFF >/dev/null
	@cmake --build $(TSAN_BUILD) -j $(JOBS)
	@ctest --test-dir $(TSAN_BUILD) --output-on-failure -j $(JOBS)

# Every test in a plain build, then again under AddressSanitizer and
# UndefinedBehaviorSanitizer.
test: test-fast test-san

bench: bootstrap
	@cmake -S . -B build-release -DCMAKE_BUILD_TYPE=Release -DMELODEX_BUILD_TESTS=OFF >/dev/null
	@cmake --build build-release -j $(JOBS)

clean:
	rm -rf $(BUILD) $(SAN_BUILD) $(TSAN_BUILD) build-release
