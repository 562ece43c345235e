# The project's commands. Each target first installs what a fresh machine lacks.
BUILD      ?= build
ASAN_BUILD ?= build-asan
JOBS       ?= 2
CMAKE_ARGS ?=

.PHONY: all deps build test test-asan demo screenshot clean

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

# The same suite under AddressSanitizer and UndefinedBehaviorSanitizer.
test-asan: deps
	cmake -S . -B $(ASAN_BUILD) -DCMAKE_BUILD_TYPE=Debug -DORBA_SANITIZE=ON -DORBA_BUILD_BENCH=OFF $(CMAKE_ARGS)
	cmake --build $(ASAN_BUILD) -j$(JOBS)
	ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 ctest --test-dir $(ASAN_BUILD) --output-on-failure -j$(JOBS)

# A full exchange between two sample branch databases.
demo: build
	$(BUILD)/bin/orbabt demo --dir demo

# The list dialog with the host kit's list control over a generated database, drawn on a
# virtual X display and saved as docs/list-dialog.png.
screenshot: build
	xvfb-run -a env QT_QPA_PLATFORM=xcb ORBA_SCREENSHOT=$(CURDIR)/docs/list-dialog.png \
	  $(BUILD)/bin/test_ui --gtest_filter='ListDialogWithControl.*'
	xvfb-run -a env QT_QPA_PLATFORM=xcb ORBA_SCREENSHOT_DIR=$(CURDIR)/docs \
	  $(BUILD)/bin/test_ui --gtest_filter='BrowseWindowTest.ScreenshotsOfBothModes'

clean:
	rm -rf $(BUILD) $(ASAN_BUILD)
