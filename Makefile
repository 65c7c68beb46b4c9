# Front door. Every target installs what is missing first (scripts/setup.sh).
#   make demo   build everything and run the main job on examples/
#   make test   build everything and run every test (ends with CTest's summary)
#   make bench  speed and size against the peers
#   make fuzz   longer fuzzing runs
#   make build  just build
SHELL := /bin/bash
JOBS ?= $(shell nproc)
HOST := build/host
STUB := build/stub

.PHONY: all setup build host stub demo test bench fuzz clean
all: build

setup:
	@bash scripts/setup.sh

host: setup
	@cmake -S . -B $(HOST) -DCMAKE_BUILD_TYPE=Release -DLZHSFX_BIN_DIR=$(CURDIR)/build/bin >/dev/null
	@cmake --build $(HOST) -j $(JOBS)

stub: setup
	@cmake -S . -B $(STUB) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake -DCMAKE_BUILD_TYPE=MinSizeRel -DLZHSFX_BIN_DIR=$(CURDIR)/build/bin >/dev/null
	@cmake --build $(STUB) -j $(JOBS)
	@cmake -S . -B $(STUB)64 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake -DCMAKE_BUILD_TYPE=MinSizeRel -DLZHSFX_BIN_DIR=$(CURDIR)/build/bin >/dev/null
	@cmake --build $(STUB)64 -j $(JOBS)

build: host stub

demo: build
	@bash scripts/demo.sh

test: build
	@cd $(HOST) && ctest --output-on-failure -j $(JOBS)

bench: build
	@bash bench/run.sh

fuzz: build
	@bash tests/fuzz/run.sh 600

clean:
	rm -rf build
