# Front door: `make demo` and `make test` set up what is missing, build and run.
JOBS ?= $(shell nproc)

.PHONY: all deps build build-asan test test-asan demo bench windows clean

all: build

deps:
	@bash scripts/dependances.sh

build: deps
	cmake --preset linux >/dev/null
	cmake --build --preset linux -j $(JOBS)

build-asan: deps
	cmake --preset linux-asan >/dev/null
	cmake --build --preset linux-asan -j $(JOBS)

test: build build-asan
	ctest --preset linux -j $(JOBS)
	ctest --preset linux-asan -j $(JOBS)

clean:
	rm -rf build
