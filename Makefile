# The two commands: `make run` and `make test`. Everything else is a helper of those.
BUILD ?= build
BUILD_TYPE ?= RelWithDebInfo
CMAKE_FLAGS ?=
JOBS ?= $(shell nproc)
PREFIX ?= /usr/local

.PHONY: all bootstrap configure build run test test-asan install package clean

all: build

bootstrap:
	@scripts/bootstrap

configure: bootstrap
	@cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) $(CMAKE_FLAGS) >/dev/null

build: configure
	@cmake --build $(BUILD) -j $(JOBS)

run: build
	@scripts/run-app $(BUILD)

test: build
	@cd $(BUILD) && ctest --output-on-failure -j $(JOBS) --timeout 900

# The same tests under AddressSanitizer and UndefinedBehaviorSanitizer.
# Leak reports of system libraries are suppressed; the options reach every program the tests start.
test-asan: export LSAN_OPTIONS = suppressions=$(CURDIR)/tests/lsan.supp:print_suppressions=0
test-asan: export UBSAN_OPTIONS = print_stacktrace=1:halt_on_error=1
test-asan:
	@$(MAKE) test BUILD=build-asan BUILD_TYPE=Debug CMAKE_FLAGS="-DSANITIZE=ON"

# Installs into $(PREFIX) (programs in $(PREFIX)/lib/qxmoviedisc, links in $(PREFIX)/bin);
# DESTDIR=/some/stage puts the tree below a staging folder instead.
install: build
	@cmake --install $(BUILD) --prefix $(PREFIX)

# The Debian package, written into $(BUILD).
package: build
	@cd $(BUILD) && cpack -G DEB

clean:
	rm -rf $(BUILD) build-asan
