# The two commands of the README: `make demo` and `make test`.
BUILD       ?= build
ASAN_BUILD  ?= build-asan
JOBS        ?= $(shell nproc)
CMAKE_FLAGS ?= -DCMAKE_BUILD_TYPE=RelWithDebInfo

.PHONY: all deps configure build test test-asan fuzz demo cluster-demo package package-test format clean

all: build

deps:
	@./scripts/install-deps.sh

configure: deps
	@cmake -S . -B $(BUILD) $(CMAKE_FLAGS) >/dev/null

build: configure
	@cmake --build $(BUILD) -j $(JOBS)

test: build
	@ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)

test-asan: deps
	@cmake -S . -B $(ASAN_BUILD) -DCMAKE_BUILD_TYPE=Debug -DCALLSINK_SANITIZE=ON \
	  -DCALLSINK_BUILD_BENCH=OFF >/dev/null
	@cmake --build $(ASAN_BUILD) -j $(JOBS)
	@ctest --test-dir $(ASAN_BUILD) --output-on-failure -j $(JOBS) -LE nosanitize

fuzz: deps
	@./scripts/fuzz.sh 20

demo: configure
	@JOBS=$(JOBS) ./scripts/demo.sh $(BUILD)

cluster-demo: build
	@./scripts/cluster-demo.sh $(BUILD)

# The Debian packages (dpkg-buildpackage -b -us -uc) into $(BUILD)/package/.
package: deps
	@JOBS=$(JOBS) ./scripts/build-package.sh $(BUILD)/package

# Builds, lints, installs, upgrades and purges the packages on a throwaway
# Debian root; needs root and Debian's archive.
package-test: deps
	@JOBS=$(JOBS) ./tests/packaging/package_test.sh $(BUILD)/package-test

format:
	@git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	@rm -rf $(BUILD) $(ASAN_BUILD)
