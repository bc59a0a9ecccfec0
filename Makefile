# choco-gui-setup.exe: a 32-bit Windows console program with no C runtime,
# cross-built here with mingw-w64. `make` builds the shipped image, `make twin`
# the same sources for x86_64 (the copy the tests run under 64-bit Wine),
# `make test` both plus the whole test suite.

SHELL := /bin/bash
.DEFAULT_GOAL := all

# Where the installation script comes from: https://$(SCRIPT_HOST)/install.ps1
SCRIPT_HOST ?= community.chocolatey.org
export SCRIPT_HOST

BUILD ?= build
DIST ?= dist
IMAGE := $(DIST)/choco-gui-setup.exe
TWIN := $(BUILD)/x86_64/choco-gui-setup.exe
NEED := tools/need-packages

SOURCES := src/setup.cpp runtime/command.cpp runtime/console.cpp runtime/start.cpp
HEADERS := runtime/runtime.h Makefile
RESOURCES := resources/choco-gui-setup.rc resources/choco-gui-setup.exe.manifest

CXXFLAGS := -std=c++17 -Os -Wall -Wextra -Wpedantic -Werror \
	-fno-exceptions -fno-rtti -fno-asynchronous-unwind-tables \
	-fno-stack-protector -fno-ident \
	-Iruntime -I$(BUILD)
# No start files and no libraries but KERNEL32; console subsystem for Windows
# 6.0; ASLR, DEP and terminal-server aware; no time stamp, so that the same
# tree always links to the same bytes.
LDFLAGS := -nostdlib -nostartfiles -s \
	-Wl,--subsystem,console:6.0 \
	-Wl,--major-os-version,6 -Wl,--minor-os-version,0 \
	-Wl,--dynamicbase -Wl,--nxcompat -Wl,--tsaware \
	-Wl,--no-insert-timestamp -Wl,--build-id=none
LIBS := -lkernel32
ENTRY_i686 := _mainCRTStartup
ENTRY_x86_64 := mainCRTStartup
WINDRES_TARGET_i686 := pe-i386
WINDRES_TARGET_x86_64 := pe-x86-64

# Keep the resource objects between builds.
.SECONDARY:

# Authenticode signing: make sign SIGN_CERT=cert.pem SIGN_KEY=key.pem
# [SIGN_TIMESTAMP_URL=...]
export SIGN_CERT SIGN_KEY SIGN_TIMESTAMP_URL

.PHONY: all twin test test-twin bench sign clean packages-i686 packages-x86_64 packages-test packages-sign FORCE

all: $(IMAGE) $(DIST)/SHA256SUMS
	@printf '%s  %s bytes  sha256 %s\n' $(IMAGE) $$(stat -c %s $(IMAGE)) \
		$$(sha256sum < $(IMAGE) | cut -d' ' -f1)

twin: $(TWIN)
	@echo $(TWIN)

packages-i686:
	@$(NEED) g++-mingw-w64-i686 binutils-mingw-w64-i686
packages-x86_64:
	@$(NEED) g++-mingw-w64-x86-64 binutils-mingw-w64-x86-64
packages-test: packages-sign
	@$(NEED) wine64 wine32:i386 qemu-user python3-pytest python3-pefile openssl
packages-sign:
	@$(NEED) osslsigncode

# The host goes into a C string and onto PowerShell's command line, so only
# letters, digits, dots and hyphens pass, with one optional :port. A bad value
# stops the build and removes any image built from an earlier value.
$(BUILD)/script_host.h: FORCE
	@if ! [[ $$SCRIPT_HOST =~ ^[A-Za-z0-9.-]+(:[0-9]{1,5})?$$ ]]; then \
		printf 'error: SCRIPT_HOST=%q is not a host name: use letters, digits, "." and "-", with an optional ":port"\n' \
			"$$SCRIPT_HOST" >&2; \
		rm -f $(IMAGE) $(DIST)/SHA256SUMS $(BUILD)/*/choco-gui-setup.exe; \
		exit 1; \
	fi
	@mkdir -p $(@D)
	@printf '#define SCRIPT_HOST L"%s"\n' "$$SCRIPT_HOST" > $@.new
	@if cmp -s $@.new $@; then rm $@.new; else mv $@.new $@; fi

$(BUILD)/%/manifest.o: $(RESOURCES) | packages-%
	@mkdir -p $(@D)
	$*-w64-mingw32-windres --target=$(WINDRES_TARGET_$*) -I resources -O coff \
		-o $@ resources/choco-gui-setup.rc

$(BUILD)/%/choco-gui-setup.exe: $(SOURCES) $(HEADERS) $(BUILD)/script_host.h \
		$(BUILD)/%/manifest.o | packages-%
	$*-w64-mingw32-g++ $(CXXFLAGS) $(LDFLAGS) -Wl,-e,$(ENTRY_$*) -o $@ \
		$(SOURCES) $(BUILD)/$*/manifest.o $(LIBS)

$(IMAGE): $(BUILD)/i686/choco-gui-setup.exe
	@mkdir -p $(@D)
	cp $< $@

$(DIST)/SHA256SUMS: $(IMAGE)
	cd $(DIST) && sha256sum choco-gui-setup.exe > SHA256SUMS

# The tests' own Windows programs: the stand-in for powershell.exe and
# choco.exe, and a launcher that gives a program no standard handles.
TEST_CC = $*-w64-mingw32-gcc -std=c11 -O2 -Wall -Wextra -Werror -municode -s
$(BUILD)/%/stand-in.exe: tests/win32/stand-in.c | packages-%
	@mkdir -p $(@D)
	$(TEST_CC) -o $@ $<
$(BUILD)/%/no-handles.exe: tests/win32/no-handles.c | packages-%
	@mkdir -p $(@D)
	$(TEST_CC) -o $@ $<

# The baseline the benchmark measures against: the same sequence on the C++
# standard library, statically linked.
$(BUILD)/%/baseline.exe: bench/baseline.cpp | packages-%
	@mkdir -p $(@D)
	$*-w64-mingw32-g++ -std=c++17 -O2 -static -s -o $@ $<

bench: all $(TWIN) $(BUILD)/x86_64/stand-in.exe $(BUILD)/i686/baseline.exe \
		$(BUILD)/x86_64/baseline.exe | packages-test
	@/usr/bin/python3 bench/bench.py

TEST_BUILDS := all $(TWIN) $(BUILD)/x86_64/stand-in.exe $(BUILD)/x86_64/no-handles.exe \
	$(BUILD)/i686/stand-in.exe

test: $(TEST_BUILDS) | packages-test
	/usr/bin/python3 -m pytest -q tests

# Everything but the run of the shipped 32-bit image (minutes under the emulator).
test-twin: $(TEST_BUILDS) | packages-test
	/usr/bin/python3 -m pytest -q -m "not shipped" tests

# Signs a fresh copy of the unsigned build, so signing twice is harmless.
sign: all | packages-sign
	@tools/sign-image $(BUILD)/i686/choco-gui-setup.exe $(DIST)

clean:
	rm -rf $(BUILD) $(DIST)
