# Front door. Every target installs what is missing first (scripts/setup.sh).
#   make demo   build everything and run the main job on examples/
#   make test   build everything and run every test (ends with CTest's summary)
#   make bench  speed and size against the peers
#   make fuzz   longer fuzzing runs
#   make build  just build
#   make install  build, then install lzhsfx, the stub, the manual page and
#               bash completion under $(DESTDIR)$(PREFIX) (PREFIX=/usr/local);
#               make install-built installs what is already built, from
#               BIN_DIR (default build/bin), building nothing
SHELL := /bin/bash
JOBS ?= $(shell nproc)
HOST := build/host
STUB := build/stub

PREFIX ?= /usr/local
DESTDIR ?=
BIN_DIR ?= $(CURDIR)/build/bin
STUB_EXE ?= $(BIN_DIR)/sfxstub.exe
SRC_DIR := $(patsubst %/,%,$(dir $(abspath $(lastword $(MAKEFILE_LIST)))))

.PHONY: all setup build host stub demo test bench fuzz clean install install-built
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

install: build
	@$(MAKE) --no-print-directory -f $(SRC_DIR)/Makefile install-built

# lzhsfx finds the stub at ../share/lzhsfx/ from its own bin/, wherever
# the tree is copied to, so DESTDIR and relocated installs work as they are.
install-built:
	install -d $(DESTDIR)$(PREFIX)/bin $(DESTDIR)$(PREFIX)/share/lzhsfx \
	  $(DESTDIR)$(PREFIX)/share/man/man1 $(DESTDIR)$(PREFIX)/share/bash-completion/completions
	install -m 755 $(BIN_DIR)/lzhsfx $(DESTDIR)$(PREFIX)/bin/lzhsfx
	install -m 644 $(STUB_EXE) $(DESTDIR)$(PREFIX)/share/lzhsfx/sfxstub.exe
	install -m 644 $(SRC_DIR)/docs/lzhsfx.1 $(DESTDIR)$(PREFIX)/share/man/man1/lzhsfx.1
	install -m 644 $(SRC_DIR)/scripts/lzhsfx-completion.bash \
	  $(DESTDIR)$(PREFIX)/share/bash-completion/completions/lzhsfx
