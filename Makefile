# The two entry points of the project. Both install missing Debian packages
# first (scripts/install-deps.sh does nothing when all are present).
#
#   make demo   build, then run the main job
#   make test   build and run the whole test suite (normal and sanitizer builds)

BUILD_DIR ?= build
JOBS ?= $(shell nproc)

.PHONY: all demo test build deps clean

all: build

deps:
	@./scripts/install-deps.sh

build: deps
	cmake -S . -B $(BUILD_DIR) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build $(BUILD_DIR) -j $(JOBS)

demo: build
	@./scripts/demo.sh $(BUILD_DIR)

test: deps
	@./scripts/run-tests.sh

clean:
	rm -rf $(BUILD_DIR) build-asan build-fuzz
