# Zorvak Setup: everything is driven from here.
#   make demo   install what is missing, build, and run the installer in a throwaway Wine prefix
#   make test   install what is missing, build, and run every test
SHELL := /bin/bash
JOBS ?= $(shell nproc)
HOST := build/host
WIN32 := build/win32
WIN64 := build/win64
WINE_ROOT := $(CURDIR)/build/wine

.PHONY: all deps build configure prefixes test demo clean

all: build

deps:
	@tools/deps.sh

configure: deps
	@cmake -S . -B $(HOST) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ >/dev/null
	@for arch in i686:$(WIN32) x86_64:$(WIN64); do \
	  cmake -S . -B $${arch#*:} -G Ninja -DCMAKE_BUILD_TYPE=Release \
	    -DCMAKE_TOOLCHAIN_FILE=$(CURDIR)/cmake/mingw-$${arch%%:*}.cmake \
	    -DNY_HOST_TOOLS_DIR=$(CURDIR)/$(HOST) -DNY_WINE_ROOT=$(WINE_ROOT) >/dev/null || exit 1; \
	done

build: configure
	@cmake --build $(HOST) -j $(JOBS)
	@cmake --build $(WIN32) -j $(JOBS)
	@cmake --build $(WIN64) -j $(JOBS)

prefixes: deps
	@tools/wine-prefixes.sh $(WINE_ROOT)

test: build prefixes
	@tools/run-tests.sh $(HOST) $(WIN32) $(WIN64) $(WINE_ROOT)

demo: build
	@tools/demo.sh $(WIN32) $(WIN64) $(if $(GUI),--gui)

clean:
	rm -rf $(HOST) $(WIN32) $(WIN64) $(WINE_ROOT)
