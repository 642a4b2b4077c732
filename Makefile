# SPDX-License-Identifier: ISC
# Thin wrapper over the CMake presets.
#   make run            build (release) and check every shipped example
#   make test           build and run the whole test suite (release)
#   make test-quick     the same without the large tests (label large)
#   make test PRESET=asan   the same under AddressSanitizer and UBSan
#   make cross          cross-build for aarch64 and s390x, check under qemu
# CMAKE_FLAGS passes more configure options, e.g.
#   make run CMAKE_FLAGS=-DCMAKE_DISABLE_FIND_PACKAGE_GTest=ON
PRESET ?= release
WERROR ?= $(if $(CI),ON,OFF)
JOBS ?= $(shell nproc)
CROSS ?= aarch64 s390x
# The build tool cmake runs is a make of its own; its directory changes are noise.
MAKEFLAGS += --no-print-directory

.PHONY: all build run test test-quick cross bench clean

all: build

build:
	cmake --preset $(PRESET) -DSIGNCHECK_WERROR=$(WERROR) $(CMAKE_FLAGS) >/dev/null
	cmake --build --preset $(PRESET) -j $(JOBS)

run: build
	./examples/check-all.sh build/$(PRESET)

# Without GoogleTest configure leaves the tests out and says so in a note.
# ctest shows a skipped test as "Skipped" alone: its reason is printed after
# the summary, from the results ctest writes.
RESULTS = build/$(PRESET)/Testing/results.xml
define ctest
	@if [ -f build/$(PRESET)/tests-left-out.txt ]; then cat build/$(PRESET)/tests-left-out.txt; exit 1; fi
	@rm -f $(RESULTS)
	ctest --preset $(PRESET) -j $(JOBS) $(1) --output-junit Testing/results.xml || status=$$?; \
	  tests/skipped.sh $(RESULTS); exit $${status:-0}
endef

test: build
	$(call ctest,)

test-quick: build
	$(call ctest,-LE large)

cross:
	tests/cross/run.sh $(CROSS)

bench: build
	bench/run-all.sh build/$(PRESET)

clean:
	rm -rf build
