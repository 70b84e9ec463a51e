# One entry point for building, running and testing on Debian.
#   make run   build the plug-in and the tool, write the gallery of the aids
#   make test  build everything and run the tests
#   make docs  regenerate docs/gallery.png, the picture the README shows
#   make bench build, then time the render against the copy floor
#              (BENCH_BASELINE=DIR: beside another build tree's, alternately)
#   make package      build the Debian package and the bundle's .tar.gz
#   make fresh-check  prove run, test and the package on bare Debian roots
#   make platforms    also build Win64 and Linux-aarch64, test them under Wine and QEMU
#   make bundle       one bundle with all three platforms, and its .zip
# Run as root, missing Debian packages are installed first; otherwise the
# one apt-get line needed is printed.

BUILD ?= build
BUILD_TYPE ?= Release
DEBIAN_PACKAGES := cmake ninja-build g++ make pkgconf libgtest-dev libopenimageio-dev \
                   libbenchmark-dev
# Also needed by the sanitizer, ThreadSanitizer and fuzz builds of .ci/run:
# clang with its sanitizer and libFuzzer runtimes (the runtimes of the
# release clang names on this Debian), and llvm-symbolizer.
CHECK_PACKAGES := clang libclang-rt-dev llvm
# Also needed by make package: dpkg-shlibdeps works out the dependencies.
PACKAGE_PACKAGES := dpkg-dev file
# Also needed by make platforms and make bundle: the Win64 and Linux-aarch64
# cross compilers and object tools, Wine and QEMU to run their tests, and
# GoogleTest's sources to build it for each.
PLATFORM_PACKAGES := g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 wine wine64 \
                     qemu-user g++-aarch64-linux-gnu binutils-aarch64-linux-gnu \
                     libc6-dev-arm64-cross googletest
PACKAGES ?= $(DEBIAN_PACKAGES)
VANTOREL := $(BUILD)/tools/vantorel/vantorel
# The cross builds, each in its own folder with its toolchain file.
WIN64_BUILD := $(BUILD)-win64
AARCH64_BUILD := $(BUILD)-aarch64
cross_configure = cmake -S . -B $(1) -G Ninja -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) \
  -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-$(2).cmake -DVANTOREL_BUILD_TOOLS=OFF \
  -DVANTOREL_BUILD_BENCH=OFF
DIST := $(BUILD)/dist
VERSION := $(shell sed -n 's/^project.QvoVantorel VERSION \([0-9]*\.[0-9]*\).*/\1/p' CMakeLists.txt).0

.PHONY: all deps deps-check deps-package configure build run docs test bench \
        package fresh-check deps-platforms configure-win64 configure-aarch64 \
        platforms bundle install clean

all: build

deps:
	@missing=""; \
	for p in $(PACKAGES); do \
	  dpkg-query -W -f='$${Status}' $$p 2>/dev/null | grep -q "ok installed" || missing="$$missing $$p"; \
	done; \
	if [ -n "$$missing" ]; then \
	  if [ "$$(id -u)" = 0 ]; then \
	    echo "installing:$$missing"; \
	    apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends $$missing; \
	  else \
	    echo "missing Debian packages; run:"; echo "  sudo apt-get install$$missing"; exit 1; \
	  fi; \
	fi

deps-check:
	@$(MAKE) --no-print-directory deps PACKAGES="$(DEBIAN_PACKAGES) $(CHECK_PACKAGES)"

deps-package:
	@$(MAKE) --no-print-directory deps PACKAGES="$(DEBIAN_PACKAGES) $(PACKAGE_PACKAGES)"

deps-platforms:
	@$(MAKE) --no-print-directory deps PACKAGES="$(DEBIAN_PACKAGES) $(PLATFORM_PACKAGES)"

configure: deps
	cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) -DVANTOREL_BUILD_BENCH=ON

build: configure
	cmake --build $(BUILD)

run: build
	$(VANTOREL) gallery $(BUILD)/gallery.png

# Regenerates the gallery the README shows.
docs: build
	$(VANTOREL) gallery docs/gallery.png

test: build
	cd $(BUILD) && ctest --output-on-failure -j2

bench: build
	$(BUILD)/bench/vantorel_bench $(if $(BENCH_BASELINE),--baseline=$(BENCH_BASELINE))

package: deps-package build
	cd $(BUILD) && cpack

# Builds bare roots of this machine's Debian release and runs the README's
# two commands and the package's install and purge there (as root).
fresh-check:
	tools/fresh-check

# The tool on a 4K sequence beside oiiotool, which this installs.
.PHONY: bench-sequence
bench-sequence: build
	@$(MAKE) --no-print-directory deps PACKAGES=openimageio-tools
	bench/sequence_bench.sh $(BUILD)

configure-win64: deps-platforms
	$(call cross_configure,$(WIN64_BUILD),x86_64-w64-mingw32)

configure-aarch64: deps-platforms
	$(call cross_configure,$(AARCH64_BUILD),aarch64-linux-gnu)

# Linux x86-64 as make test does, then Win64 under Wine and Linux-aarch64
# under QEMU: each checks the same frame digests. A Win64 test that fails
# gets one more run: now and then a test program started while the Wine
# server shuts down dies with "wine client error" before it runs at all.
platforms: test configure-win64 configure-aarch64
	cmake --build $(WIN64_BUILD) -j2
	cd $(WIN64_BUILD) && ctest --output-on-failure -j2 --repeat until-pass:2
	cmake --build $(AARCH64_BUILD) -j2
	cd $(AARCH64_BUILD) && ctest --output-on-failure -j2

# The three platforms' modules in one bundle, each checked, and its archive.
bundle: build configure-win64 configure-aarch64
	cmake --build $(WIN64_BUILD) -j2 --target QvoVantorel
	cmake --build $(AARCH64_BUILD) -j2 --target QvoVantorel
	rm -rf $(DIST) && mkdir -p $(DIST)/QvoVantorel.ofx.bundle/Contents
	cp -R $(BUILD)/QvoVantorel.ofx.bundle/Contents/Resources \
	  $(BUILD)/QvoVantorel.ofx.bundle/Contents/Linux-x86-64 \
	  $(WIN64_BUILD)/QvoVantorel.ofx.bundle/Contents/Win64 \
	  $(AARCH64_BUILD)/QvoVantorel.ofx.bundle/Contents/Linux-aarch64 \
	  $(DIST)/QvoVantorel.ofx.bundle/Contents/
	tests/check_module.sh $(DIST)/QvoVantorel.ofx.bundle Linux-x86-64
	tests/check_module.sh $(DIST)/QvoVantorel.ofx.bundle Win64
	NM=aarch64-linux-gnu-nm READELF=aarch64-linux-gnu-readelf \
	  tests/check_module.sh $(DIST)/QvoVantorel.ofx.bundle Linux-aarch64
	cd $(DIST) && cmake -E tar cf QvoVantorel-$(VERSION).zip --format=zip \
	  QvoVantorel.ofx.bundle
	@echo $(DIST)/QvoVantorel-$(VERSION).zip

install: build
	cmake --install $(BUILD)

clean:
	rm -rf $(BUILD)
