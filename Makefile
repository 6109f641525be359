# Two entry points for a newcomer, each installing what it needs first
# (tools/install-deps.sh, from the list in tools/packages.txt):
#   make demo   builds the tools and runs them on the bundled sample tree
#   make test   builds the tools and the tests and runs the tests
# and two more:
#   make deps   only installs the packages of the build, the optional
#               commands and the tests (TUK_MINIMAL=1: not the optional ones)
#   make install [PREFIX=/usr/local]   builds and installs under PREFIX
PRESET ?= release
BUILD_DIR := build/$(PRESET)
JOBS ?= 2
PREFIX ?= /usr/local
DEPS := tools/install-deps.sh

.PHONY: deps configure build demo test install clean

deps:
	$(DEPS) build optional test

configure:
	cmake --preset $(PRESET) -DTUK_WERROR=ON

build: configure
	cmake --build --preset $(PRESET) -j$(JOBS)

demo:
	$(DEPS) build optional
	$(MAKE) --no-print-directory configure
	cmake --build --preset $(PRESET) -j$(JOBS) --target tukUnpack TukPack tuk
	tools/demo.sh $(BUILD_DIR)

test:
	$(DEPS) build optional test
	$(MAKE) --no-print-directory build
	ctest --preset $(PRESET) -j$(JOBS)

install: build
	cmake --install $(BUILD_DIR) --prefix $(PREFIX)

clean:
	rm -rf build
