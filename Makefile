# Two entry points for a newcomer:
#   make demo   builds the tools and runs them on the bundled sample tree
#   make test   builds the tools and the tests and runs the tests
# and one for putting the tools in place:
#   make install [PREFIX=/usr/local]   builds and installs under PREFIX
PRESET ?= release
BUILD_DIR := build/$(PRESET)
JOBS ?= 2
PREFIX ?= /usr/local

.PHONY: configure build demo test install clean

configure:
	cmake --preset $(PRESET) -DTUK_WERROR=ON

build: configure
	cmake --build --preset $(PRESET) -j$(JOBS)

demo: configure
	cmake --build --preset $(PRESET) -j$(JOBS) --target tukUnpack TukPack tuk
	tools/demo.sh $(BUILD_DIR)

test: build
	ctest --preset $(PRESET) -j$(JOBS)

install: build
	cmake --install $(BUILD_DIR) --prefix $(PREFIX)

clean:
	rm -rf build
