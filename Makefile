# Front door: `make demo` and `make test` set up what is missing, build and run.
JOBS ?= $(shell nproc)

.PHONY: all deps build build-asan test test-asan tidy demo bench fuzz windows test-windows format format-check clean

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

# Coverage-guided fuzzing (clang 16, libFuzzer, address and undefined-behaviour sanitizers): every
# target of fuzz/ for DUREE seconds, one after the other, or only those of CIBLES; ENRICHIR=1 merges
# the inputs that add coverage into the committed seeds.
DUREE ?= 30
CIBLES ?=
ENRICHIR ?= 0

fuzz: deps
	cmake --preset fuzz >/dev/null
	cmake --build --preset fuzz -j $(JOBS) --target fuzz_cibles
	ENRICHIR=$(ENRICHIR) bash fuzz/lancer.sh $(DUREE) $(CIBLES)

# clang-tidy over our sources (checks in .clang-tidy), from the Linux build's compilation database.
tidy: deps
	cmake --preset linux >/dev/null
	JOBS=$(JOBS) bash scripts/tidy.sh

# Windows x86-64 cross build (mingw-w64), then its command-line checks under wine64.
windows: deps
	cmake --preset windows >/dev/null
	cmake --build --preset windows -j $(JOBS)

test-windows: windows
	bash tests/windows/vextrel_wine.sh

# Builds only what the demo runs, so it stays quick on a fresh machine.
demo: deps
	cmake --preset linux >/dev/null
	cmake --build --preset linux -j $(JOBS) --target calibrage generer_cohorte
	bash scripts/demo.sh

# Whole-command benchmarks of calibrage (see the script for its data and settings).
bench: deps
	bash bench/commandes_calibrage.sh

# The house style (.clang-format): `make format` before committing; CI runs `make format-check`, which
# changes nothing and fails on any file left unformatted. The file list is in scripts/formater.sh.
format: deps
	bash scripts/formater.sh

format-check: deps
	bash scripts/formater.sh --verifier

clean:
	rm -rf build
