# Zorvak Setup: everything is driven from here.
#   make demo   install what is missing, build, and run the installer in a throwaway Wine prefix
#   make test   install what is missing, build, and run every test
SHELL := /bin/bash
JOBS ?= $(shell nproc)
HOST := build/host
WIN := build/win32
WINE_ROOT := $(CURDIR)/$(WIN)/wine

.PHONY: all deps build configure prefixes test test-host test-wine demo clean

all: build

deps:
	@tools/deps.sh

configure: deps
	@cmake -S . -B $(HOST) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ >/dev/null
	@cmake -S . -B $(WIN) -G Ninja -DCMAKE_BUILD_TYPE=Release \
	  -DCMAKE_TOOLCHAIN_FILE=$(CURDIR)/cmake/mingw-i686.cmake -DNY_HOST_TOOLS_DIR=$(CURDIR)/$(HOST) >/dev/null

build: configure
	@cmake --build $(HOST) -j $(JOBS)
	@cmake --build $(WIN) -j $(JOBS)

prefixes: deps
	@tools/wine-prefixes.sh $(WINE_ROOT)

test: build prefixes
	@tools/run-tests.sh $(HOST) $(WIN) $(WINE_ROOT)

demo: build
	@tools/demo.sh $(WIN) $(if $(GUI),--gui)

clean:
	rm -rf $(HOST) $(WIN)
