# One entry point for building, running and testing on Debian.
#   make run   build the plug-in and the tool, write the gallery of the aids
#   make test  build everything and run the tests
#   make docs  regenerate docs/gallery.png, the picture the README shows
#   make bench build, then time the render against the copy floor
#   make package      build the Debian package and the bundle's .tar.gz
#   make fresh-check  prove run, test and the package on bare Debian roots
# Run as root, missing Debian packages are installed first; otherwise the
# one apt-get line needed is printed.

BUILD ?= build
BUILD_TYPE ?= Release
DEBIAN_PACKAGES := cmake ninja-build g++ make pkgconf libgtest-dev libopenimageio-dev \
                   libbenchmark-dev
# Also needed by the sanitizer, ThreadSanitizer and fuzz builds of .ci/run:
# clang with its sanitizer and libFuzzer runtimes, and llvm-symbolizer.
CHECK_PACKAGES := clang libclang-rt-14-dev llvm
# Also needed by make package: dpkg-shlibdeps works out the dependencies.
PACKAGE_PACKAGES := dpkg-dev file
PACKAGES ?= $(DEBIAN_PACKAGES)
VANTOREL := $(BUILD)/tools/vantorel/vantorel

.PHONY: all deps deps-check deps-package configure build run docs test bench \
        package fresh-check install clean

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
	$(BUILD)/bench/vantorel_bench

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

install: build
	cmake --install $(BUILD)

clean:
	rm -rf $(BUILD)
