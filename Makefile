# The two commands of README.md. Both install what is missing (apt-get, via
# sudo when not root), configure and build the debug configuration in build/.

SHELL := /bin/bash
PRESET ?= debug
BUILD_DIR := build

# Build and run dependencies, then the test oracles.
PACKAGES := cmake ninja-build g++ pkg-config \
	qt6-base-dev libgl-dev libxkbcommon-dev \
	libturbojpeg0-dev libjpeg-dev libavformat-dev libavcodec-dev libavutil-dev \
	libasound2-dev libpulse-dev libudev-dev fonts-liberation fonts-dejavu-core \
	libgtest-dev libgmock-dev libbenchmark-dev \
	librsvg2-bin
# Test oracles; the packaging test builds the .deb (dpkg-dev, file),
# validates the installed desktop entry and metainfo, and renders the manual
# pages (groff-base); the sound server tests start a private PulseAudio
# daemon (pulseaudio); capture files are read back by other readers too
# (mediainfo, GStreamer's avidemux).
TEST_PACKAGES := ffmpeg xvfb xauth \
	dpkg-dev file desktop-file-utils appstream groff-base pulseaudio \
	mediainfo gstreamer1.0-tools gstreamer1.0-plugins-good
# scripts/screenshots.sh: a virtual display, clicks and captures.
SCREENSHOT_PACKAGES := xvfb xdotool imagemagick

.PHONY: run test build deps test-deps configure screenshots

run: build
	@if [ -z "$$DISPLAY" ] && [ -z "$$WAYLAND_DISPLAY" ] && [ -z "$$QT_QPA_PLATFORM" ]; then \
		echo "ronvix: no display found (neither DISPLAY nor WAYLAND_DISPLAY is set)."; \
		echo "Start it on a virtual display with:  xvfb-run -a -s '-screen 0 1280x1024x24' make run"; \
		echo "(xvfb-run comes with the Debian package 'xvfb')."; \
		exit 1; \
	fi
	./$(BUILD_DIR)/ronvix $(ARGS)

test: TOOLS_NEEDED = 1
test: build test-deps
	ctest --preset $(PRESET)

build: deps
	@if [ ! -f $(BUILD_DIR)/build.ninja ]; then cmake --preset $(PRESET); fi
	cmake --build --preset $(PRESET)

deps:
	@scripts/install-deps.sh $(PACKAGES)

test-deps:
	@scripts/install-deps.sh $(TEST_PACKAGES)

# The user guide's pictures, docs/screenshots/*.png (not kept in git).
screenshots: build
	@scripts/install-deps.sh $(SCREENSHOT_PACKAGES)
	RONVIX_BUILD_DIR=$(BUILD_DIR) scripts/screenshots.sh docs/screenshots
