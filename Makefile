# Builds the program for 64-bit Windows and runs it, or its tests, under Wine.
#   make run    install what is missing, build, run the program against a
#               demonstration printer (scripts/run-demo.sh)
#   make test   install what is missing, build, run every test
#   make build  build only (the program, its help files, the release package)
#   make dist   the release: $(BUILD)/VRAutoConfig-<version>-x64.zip, the
#               installer $(BUILD)/VRAutoDetect-<version>-x64.msi and the
#               .sha256 of each; signed when VR_SIGN_PFX and
#               VR_SIGN_PASSWORD_FILE name a PFX file and its password's file
BUILD ?= build
JOBS ?= $(shell nproc)

.PHONY: all deps build run test dist clean

all: build

deps:
	@sh scripts/install-deps.sh

$(BUILD)/CMakeCache.txt:
	cmake -S . -B $(BUILD) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake -DCMAKE_BUILD_TYPE=Release

build: deps $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j $(JOBS)

run: build
	sh scripts/run-demo.sh $(BUILD)

test: build
	cd $(BUILD) && ctest --output-on-failure

dist: deps $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j $(JOBS) --target vr_package
	@ls $(BUILD)/VRAutoConfig-*-x64.zip $(BUILD)/VRAutoConfig-*-x64.zip.sha256 \
	    $(BUILD)/VRAutoDetect-*-x64.msi $(BUILD)/VRAutoDetect-*-x64.msi.sha256

clean:
	rm -rf $(BUILD)
