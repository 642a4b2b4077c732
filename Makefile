# Thin wrapper over the CMake presets.
#   make run            build (release) and check every shipped example
#   make test           build and run the whole test suite (release)
#   make test PRESET=asan   the same under AddressSanitizer and UBSan
PRESET ?= release
WERROR ?= $(if $(CI),ON,OFF)
JOBS ?= $(shell nproc)

.PHONY: all build run test bench clean

all: build

build:
	cmake --preset $(PRESET) -DSIGNCHECK_WERROR=$(WERROR) $(CMAKE_FLAGS) >/dev/null
	cmake --build --preset $(PRESET) -j $(JOBS)

run: build
	./examples/check-all.sh build/$(PRESET)

test: build
	ctest --preset $(PRESET) -j $(JOBS)

clean:
	rm -rf build
