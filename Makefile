# Two entry points for a newcomer:
#   make demo   builds the tools and runs them on the bundled sample tree
#   make test   builds the tools and the tests and runs the tests
PRESET ?= release
BUILD_DIR := build/$(PRESET)
JOBS ?= 2

.PHONY: configure build demo test clean

configure:
	cmake --preset $(PRESET) -DTUK_WERROR=ON

build: configure
	cmake --build --preset $(PRESET) -j$(JOBS)

demo: configure
	cmake --build --preset $(PRESET) -j$(JOBS) --target tukUnpack TukPack tuk
	tools/demo.sh $(BUILD_DIR)

test: build
	ctest --preset $(PRESET) -j$(JOBS)

clean:
	rm -rf build
