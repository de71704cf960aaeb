# Zorvak Setup: everything is driven from here.
#   make demo   install what is missing, build, and run the installer in a throwaway Wine prefix
#   make test   install what is missing, build, and run every test
SHELL := /bin/bash
JOBS ?= $(shell nproc)
HOST := build/host
WIN32 := build/win32
WIN64 := build/win64
WINE_ROOT := $(CURDIR)/build/wine

# Signing: a real certificate with SIGN_PFX (and SIGN_PASS_FILE), or a key in a
# hardware token with SIGN_PKCS11_MODULE, SIGN_KEY and SIGN_CERTS; a timestamp
# server with SIGN_TIMESTAMP_URL. Without either, a throw-away test identity
# is made once in build/signing and signs.
SIGN_TEST_DIR := $(CURDIR)/build/signing
sign_path = $(if $(1),$(abspath $(1)))
SIGN_OPTIONS := '-DNY_SIGN_PFX=$(call sign_path,$(SIGN_PFX))' '-DNY_SIGN_PASS_FILE=$(call sign_path,$(SIGN_PASS_FILE))' \
  '-DNY_SIGN_PKCS11_MODULE=$(SIGN_PKCS11_MODULE)' '-DNY_SIGN_KEY=$(SIGN_KEY)' \
  '-DNY_SIGN_CERTS=$(call sign_path,$(SIGN_CERTS))' '-DNY_SIGN_TIMESTAMP_URL=$(SIGN_TIMESTAMP_URL)' \
  '-DNY_SIGN_TEST_DIR=$(if $(SIGN_PFX)$(SIGN_PKCS11_MODULE),,$(SIGN_TEST_DIR))'

.PHONY: all deps build configure prefixes test demo clean

all: build

deps:
	@tools/deps.sh

configure: deps
	@$(if $(SIGN_PFX)$(SIGN_PKCS11_MODULE),true,tools/sign.sh identity $(SIGN_TEST_DIR))
	@cmake -S . -B $(HOST) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ >/dev/null
	@for arch in i686:$(WIN32) x86_64:$(WIN64); do \
	  cmake -S . -B $${arch#*:} -G Ninja -DCMAKE_BUILD_TYPE=Release \
	    -DCMAKE_TOOLCHAIN_FILE=$(CURDIR)/cmake/mingw-$${arch%%:*}.cmake \
	    -DNY_HOST_TOOLS_DIR=$(CURDIR)/$(HOST) -DNY_WINE_ROOT=$(WINE_ROOT) $(SIGN_OPTIONS) >/dev/null || exit 1; \
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
	rm -rf $(HOST) $(WIN32) $(WIN64) $(WINE_ROOT) $(SIGN_TEST_DIR)
