# One entry point for building, running and testing on Debian.
#   make run   build the plug-in and the tool, write the gallery of the aids
#   make test  build everything and run the tests
#   make docs  regenerate docs/gallery.png, the picture the README shows
#   make bench build, then time the render against the copy floor
#              (BENCH_BASELINE=DIR: beside another build tree's, alternately)
#   make package      build the Debian package (lintian-checked) and the bundle's .tar.gz
#   make fresh-check  prove run, test and the package on bare Debian roots
#   make platforms    also build Win64, Linux-aarch64 and macOS, test them under
#                     Wine, QEMU and the host library's Mach-O loader
#   make bundle       one bundle with all four platforms, and its .zip
# Run as root, missing Debian packages are installed first; otherwise the
# one apt-get line needed is printed.

BUILD ?= build
BUILD_TYPE ?= Release
# groff-base: the tests format vantorel's manual page.
DEBIAN_PACKAGES := cmake ninja-build g++ make pkgconf libgtest-dev libopenimageio-dev \
                   libbenchmark-dev groff-base
# Also needed by the sanitizer, ThreadSanitizer and fuzz builds of .ci/run:
# clang with its sanitizer and libFuzzer runtimes (the runtimes of the
# release clang names on this Debian), and llvm-symbolizer.
CHECK_PACKAGES := clang libclang-rt-dev llvm
# Also needed by make package: dpkg-shlibdeps works out the dependencies,
# lintian checks the package.
PACKAGE_PACKAGES := dpkg-dev file lintian
# Also needed by make platforms and make bundle: the Win64 and Linux-aarch64
# cross compilers and object tools, Wine and QEMU to run their tests, and
# GoogleTest's sources to build it for each; for macOS clang, ld64.lld and
# LLVM's object tools (llvm-lipo, llvm-objdump).
PLATFORM_PACKAGES := g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 wine wine64 \
                     qemu-user g++-aarch64-linux-gnu binutils-aarch64-linux-gnu \
                     libc6-dev-arm64-cross googletest clang-14 lld-14 llvm-14
PACKAGES ?= $(DEBIAN_PACKAGES)
VANTOREL := $(BUILD)/tools/vantorel/vantorel
# The bundle this build made: the tool is given it, as nothing about the
# build tree is compiled into it.
BUNDLE := $(BUILD)/QvoVantorel.ofx.bundle
# The cross builds, each in its own folder with its toolchain file.
WIN64_BUILD := $(BUILD)-win64
AARCH64_BUILD := $(BUILD)-aarch64
cross_configure = cmake -S . -B $(1) -G Ninja -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) \
  -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-$(2).cmake -DVANTOREL_BUILD_TOOLS=OFF \
  -DVANTOREL_BUILD_BENCH=OFF
# macOS: a build of the modules for each processor, the universal bundle
# made of their shipping modules, and a Linux build of the same processor
# that runs each one's tests through the host library's Mach-O loader.
MACOS_BUILD = $(BUILD)-macos-$(1)
MACOS_TESTS = $(BUILD)-macos-$(1)-tests
MACOS_BUNDLE := $(BUILD)-macos/QvoVantorel.ofx.bundle
MACOS_TOOLCHAIN_x86_64 := x86_64-apple-macos10.13
MACOS_TOOLCHAIN_arm64 := arm64-apple-macos11
# The Linux build that runs each macOS processor's tests.
MACOS_TEST_TOOLCHAIN_x86_64 :=
MACOS_TEST_TOOLCHAIN_arm64 := -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-aarch64-linux-gnu.cmake
macos_test_configure = cmake -S . -B $(call MACOS_TESTS,$(1)) -G Ninja \
  -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) $(MACOS_TEST_TOOLCHAIN_$(1)) \
  -DVANTOREL_MACHO_MODULES=$(abspath $(call MACOS_BUILD,$(1))) \
  -DVANTOREL_MACHO_BUNDLE=$(abspath $(MACOS_BUNDLE)) \
  -DVANTOREL_BUILD_TOOLS=OFF -DVANTOREL_BUILD_BENCH=OFF
DIST := $(BUILD)/dist
DEB = $(BUILD)/qvo-vantorel_$(VERSION)_$(shell dpkg --print-architecture).deb
VERSION := $(shell sed -n 's/^project.QvoVantorel VERSION \([0-9]*\.[0-9]*\).*/\1/p' CMakeLists.txt).0

.PHONY: all deps deps-check deps-package configure build run docs test bench \
        package fresh-check deps-platforms configure-win64 configure-aarch64 \
        configure-macos macos test-macos platforms bundle install clean

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
	$(VANTOREL) gallery $(BUILD)/gallery.png --bundle $(BUNDLE)

# Regenerates the gallery the README shows.
docs: build
	$(VANTOREL) gallery docs/gallery.png --bundle $(BUNDLE)

test: build
	cd $(BUILD) && ctest --output-on-failure -j2

bench: build
	$(BUILD)/bench/vantorel_bench $(if $(BENCH_BASELINE),--baseline=$(BENCH_BASELINE))

# The .deb must pass lintian: no error, no warning but the overridden ones,
# each with its reason (tools/lint-package).
package: deps-package build
	cd $(BUILD) && cpack
	tools/lint-package $(DEB)

# Builds bare roots of this machine's Debian release and runs the README's
# two commands, make package (lintian included) and the package's install,
# manual page and purge there (as root).
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

configure-macos: deps-platforms
	$(call cross_configure,$(call MACOS_BUILD,x86_64),$(MACOS_TOOLCHAIN_x86_64))
	$(call cross_configure,$(call MACOS_BUILD,arm64),$(MACOS_TOOLCHAIN_arm64))

# Both processors' modules, and the universal bundle of the shipping one.
macos: configure-macos
	cmake --build $(call MACOS_BUILD,x86_64) -j2
	cmake --build $(call MACOS_BUILD,arm64) -j2
	rm -rf $(MACOS_BUNDLE) && mkdir -p $(MACOS_BUNDLE)/Contents/MacOS
	cp -R $(call MACOS_BUILD,x86_64)/QvoVantorel.ofx.bundle/Contents/Resources \
	  $(call MACOS_BUILD,x86_64)/QvoVantorel.ofx.bundle/Contents/Info.plist \
	  $(MACOS_BUNDLE)/Contents/
	llvm-lipo-14 -create -output $(MACOS_BUNDLE)/Contents/MacOS/QvoVantorel.ofx \
	  $(call MACOS_BUILD,x86_64)/QvoVantorel.ofx.bundle/Contents/MacOS/QvoVantorel.ofx \
	  $(call MACOS_BUILD,arm64)/QvoVantorel.ofx.bundle/Contents/MacOS/QvoVantorel.ofx
	SLICES="x86_64 arm64" tests/check_module.sh $(MACOS_BUNDLE) MacOS

# Every test of the module and the host library on each macOS slice, the
# universal shipping module's and each test build's: x86_64 natively,
# arm64 under QEMU.
test-macos: macos
	$(call macos_test_configure,x86_64)
	cmake --build $(call MACOS_TESTS,x86_64) -j2
	cd $(call MACOS_TESTS,x86_64) && ctest --output-on-failure -j2
	$(call macos_test_configure,arm64)
	cmake --build $(call MACOS_TESTS,arm64) -j2
	cd $(call MACOS_TESTS,arm64) && ctest --output-on-failure -j2

# Linux x86-64 as make test does, then Win64 under Wine, Linux-aarch64 under
# QEMU and macOS through the Mach-O loader: each checks the same frame
# digests. A Win64 test that fails gets one more run: now and then a test
# program started while the Wine server shuts down dies with "wine client
# error" before it runs at all.
platforms: test configure-win64 configure-aarch64
	cmake --build $(WIN64_BUILD) -j2
	cd $(WIN64_BUILD) && ctest --output-on-failure -j2 --repeat until-pass:2
	cmake --build $(AARCH64_BUILD) -j2
	cd $(AARCH64_BUILD) && ctest --output-on-failure -j2
	@$(MAKE) --no-print-directory test-macos

# The four platforms' modules in one bundle, each checked, and its archive.
# It replaces only these two in $(DIST): the build keeps the package's debug
# symbols there (cmake/packaging.cmake).
bundle: build configure-win64 configure-aarch64 macos
	cmake --build $(WIN64_BUILD) -j2 --target QvoVantorel
	cmake --build $(AARCH64_BUILD) -j2 --target QvoVantorel
	rm -rf $(DIST)/QvoVantorel.ofx.bundle $(DIST)/QvoVantorel-*.zip
	mkdir -p $(DIST)/QvoVantorel.ofx.bundle/Contents
	cp -R $(BUILD)/QvoVantorel.ofx.bundle/Contents/Resources \
	  $(BUILD)/QvoVantorel.ofx.bundle/Contents/Linux-x86-64 \
	  $(WIN64_BUILD)/QvoVantorel.ofx.bundle/Contents/Win64 \
	  $(AARCH64_BUILD)/QvoVantorel.ofx.bundle/Contents/Linux-aarch64 \
	  $(MACOS_BUNDLE)/Contents/MacOS $(MACOS_BUNDLE)/Contents/Info.plist \
	  $(DIST)/QvoVantorel.ofx.bundle/Contents/
	tests/check_module.sh $(DIST)/QvoVantorel.ofx.bundle Linux-x86-64
	tests/check_module.sh $(DIST)/QvoVantorel.ofx.bundle Win64
	NM=aarch64-linux-gnu-nm READELF=aarch64-linux-gnu-readelf \
	  tests/check_module.sh $(DIST)/QvoVantorel.ofx.bundle Linux-aarch64
	SLICES="x86_64 arm64" tests/check_module.sh $(DIST)/QvoVantorel.ofx.bundle MacOS
	cd $(DIST) && cmake -E tar cf QvoVantorel-$(VERSION).zip --format=zip \
	  QvoVantorel.ofx.bundle
	@echo $(DIST)/QvoVantorel-$(VERSION).zip

install: build
	cmake --install $(BUILD)

clean:
	rm -rf $(BUILD)
