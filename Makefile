# The project's commands. Each target first installs what a fresh machine lacks.
BUILD      ?= build
ASAN_BUILD ?= build-asan
FUZZ_BUILD ?= build-fuzz
FUZZ_SECONDS ?= 60
JOBS       ?= 2
CMAKE_ARGS ?=

.PHONY: all deps build test test-asan fuzz demo demo-network bench screenshot install package check-install clean

all: build

deps:
	@scripts/install-deps

$(BUILD)/CMakeCache.txt: | deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_ARGS)

build: deps $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j$(JOBS)

# Builds everything and runs every test.
test: build
	ctest --test-dir $(BUILD) --output-on-failure -j$(JOBS)

# The same suite under AddressSanitizer and UndefinedBehaviorSanitizer (line tables only for
# debugging: a report still names file and line, and the build is a fifth quicker).
test-asan: deps
	cmake -S . -B $(ASAN_BUILD) -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS_DEBUG=-g1 -DCMAKE_C_FLAGS_DEBUG=-g1 \
	  -DORBA_SANITIZE=ON -DORBA_BUILD_BENCH=OFF $(CMAKE_ARGS)
	cmake --build $(ASAN_BUILD) -j$(JOBS)
	ctest --test-dir $(ASAN_BUILD) --output-on-failure -j$(JOBS)

# Builds the fuzz targets with clang's libFuzzer and runs each for FUZZ_SECONDS.
fuzz: deps
	FUZZ_SECONDS=$(FUZZ_SECONDS) FUZZ_BUILD=$(FUZZ_BUILD) JOBS=$(JOBS) scripts/fuzz

# What the exchange steps cost against the raw database work, ending with a table of
# figures and targets (under 10 minutes on two cores).
bench: build
	$(BUILD)/bin/bench_summary

# A full exchange between two sample branch databases.
demo: build
	$(BUILD)/bin/orbabt demo --dir demo

# The same two sample branches exchanging over HTTPS on this machine, in demo-network/: a
# certificate for each (openssl), both services on 127.0.0.1, B pulls from A, A pulls from B,
# A's status; both services are stopped at the end, and on a failure too.
demo-network: build
	scripts/demo-network $(BUILD)/bin/orbabt demo-network

# The list dialog with the host kit's list control, the browse window in both modes, and the
# bill viewer, over generated databases, drawn on a virtual X display and saved as
# docs/list-dialog.png, docs/browse-send.png, docs/browse-download.png and
# docs/bill-viewer.png.
screenshot: build
	xvfb-run -a env QT_QPA_PLATFORM=xcb ORBA_SCREENSHOT=$(CURDIR)/docs/list-dialog.png \
	  $(BUILD)/bin/test_ui --gtest_filter='ListDialogWithControl.*'
	xvfb-run -a env QT_QPA_PLATFORM=xcb ORBA_SCREENSHOT_DIR=$(CURDIR)/docs \
	  $(BUILD)/bin/test_ui --gtest_filter='BrowseWindowTest.ScreenshotsOfBothModes'
	xvfb-run -a env QT_QPA_PLATFORM=xcb ORBA_VIEWER_SCREENSHOT=$(CURDIR)/docs/bill-viewer.png \
	  $(BUILD)/bin/test_hostkit --gtest_filter='BillViewer.Shows*'

# Installs headers, libraries, orbabt, the CMake package and pkg-config files under PREFIX
# (default /usr/local): make install PREFIX=$$HOME/orba
PREFIX ?= /usr/local
install: build
	cmake --install $(BUILD) --prefix $(PREFIX)

# A Debian package in $(BUILD): apt-get install ./$(BUILD)/orbabilltransmit_<version>_<arch>.deb
package: build
	cd $(BUILD) && cpack -G DEB

# Installs into a staged prefix and builds and runs examples/host against it alone.
check-install: build
	scripts/check-install $(BUILD)

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(FUZZ_BUILD)
