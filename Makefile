# Builds the program for 64-bit Windows and runs its tests under Wine.
#   make test   install what is missing, build, run every test
#   make build  build only
BUILD ?= build
JOBS ?= $(shell nproc)

.PHONY: all deps build test clean

all: build

deps:
	@sh scripts/install-deps.sh

$(BUILD)/CMakeCache.txt:
	cmake -S . -B $(BUILD) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake -DCMAKE_BUILD_TYPE=Release

build: deps $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j $(JOBS)

test: build
	cd $(BUILD) && ctest --output-on-failure

clean:
	rm -rf $(BUILD)
