# Entry points: `make run` and `make test` set up the machine, configure, build and run.
PRESET ?= default
JOBS ?= $(shell nproc)

.PHONY: all deps configure build run test test-asan test-tsan fuzz format clean

all: build

deps:
	bash scripts/install-deps.sh

configure: deps
	cmake --preset $(PRESET)

build: configure
	cmake --build --preset $(PRESET) -j $(JOBS)

run: build
	./build/$(PRESET)/bin/bstorage demo

test: build
	ctest --preset $(PRESET) -j $(JOBS)

test-asan:
	$(MAKE) test PRESET=asan

test-tsan:
	$(MAKE) test PRESET=tsan

fuzz: deps
	bash scripts/run-fuzzers.sh

format:
	git ls-files '*.h' '*.cc' | xargs clang-format -i

clean:
	rm -rf build
