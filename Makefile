# The two commands that set up everything on a fresh Debian 12 machine:
#   make run    installs dependencies, builds and runs Vyo
#   make test   installs dependencies, builds and runs the whole test suite
# And for developers and CI:
#   make check          the layer rules and the formatting, without building
#   make package        builds the Debian packages vyo and vyo-service into build/packages and
#                       checks them (desktop-file-validate, appstreamcli, lintian)
#   make test-sanitize  builds with AddressSanitizer and UndefinedBehaviorSanitizer and runs the
#                       tests that need no window under them
BUILD_DIR ?= build
SANITIZE_DIR ?= build-sanitize
JOBS ?= $(shell nproc)
# Extra CMake settings, e.g. CMAKE_FLAGS=-DVYO_WERROR=ON (as CI builds).
CMAKE_FLAGS ?=
# ccache (when installed) then reuses compilations made in another checkout of the project.
export CCACHE_BASEDIR := $(CURDIR)

.PHONY: deps configure build run test check package test-sanitize clean

deps:
	bash scripts/install-deps.sh
	bash scripts/install-node-modules.sh

configure: deps
	cmake -S . -B $(BUILD_DIR) -G Ninja -DCMAKE_BUILD_TYPE=Release $(CMAKE_FLAGS)

build: configure
	cmake --build $(BUILD_DIR) -j $(JOBS)

run: build
	$(BUILD_DIR)/src/app/vyo

test: build
	scripts/with-display.sh ctest --test-dir $(BUILD_DIR) --output-on-failure -j $(JOBS)

check:
	python3 scripts/check-layers.py
	git ls-files -- '*.cpp' '*.h' | xargs clang-format --dry-run -Werror

package: build
	bash scripts/package.sh $(BUILD_DIR)

test-sanitize: deps
	cmake -S . -B $(SANITIZE_DIR) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVYO_SANITIZE=ON \
		-DVYO_BUILD_BENCHMARKS=OFF $(CMAKE_FLAGS)
	cmake --build $(SANITIZE_DIR) -j $(JOBS)
	ASAN_OPTIONS=detect_leaks=0:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
		scripts/with-display.sh ctest --test-dir $(SANITIZE_DIR) --output-on-failure -j $(JOBS) \
		-LE gui

clean:
	rm -rf $(BUILD_DIR) $(SANITIZE_DIR)
