# The two set-up commands of a fresh Debian machine: `make run` and `make test`.
# Both install what is missing first, so a clean checkout needs nothing else.

BUILD_TYPE ?= RelWithDebInfo
SANITIZE ?= 0
# SANITIZE=thread builds the engine's concurrency tests under ThreadSanitizer
# and runs only them: their programs, and their suites by name.
CONCURRENCY_TESTS := BackgroundJobsTest SearchCacheLoadTest IndexStoreConcurrencyTest IndexStoreFaultsTest \
	SearchDispatchTest SharedCutoffTest TypingRankingTest BoundedTopKTest CandidateFilterTest
CONCURRENCY_SUITES := ^(BackgroundJobs|SearchCacheLoad|SearchDispatch|IndexStoreConcurrency|IndexStoreBusy|IndexStoreRegex|IndexStoreDamage|SharedCutoff|TypingRanking|BoundedTopK|CandidateFilter)\.
ifeq ($(SANITIZE),1)
BUILD_DIR ?= build-asan
CMAKE_FLAGS += -DPALLIX_SANITIZE=ON
# Shared libraries: a hundred test programs share one copy of the
# instrumented code instead of carrying it each (16 GB down to a few).
CMAKE_FLAGS += -DBUILD_SHARED_LIBS=ON
BUILD_TYPE = Debug
# Caches of system libraries kept for the life of the process are not ours.
export LSAN_OPTIONS := suppressions=$(CURDIR)/tests/lsan.supp:print_suppressions=0
else ifeq ($(SANITIZE),thread)
BUILD_DIR ?= build-tsan
CMAKE_FLAGS += -DPALLIX_TSAN=ON -DBUILD_SHARED_LIBS=ON
BUILD_TARGETS := --target $(CONCURRENCY_TESTS)
CTEST_ARGS := -R '$(CONCURRENCY_SUITES)' 
else
BUILD_DIR ?= build
endif

DEB_PACKAGES := build-essential cmake ninja-build pkg-config \
	libsqlite3-dev libicu-dev nlohmann-json3-dev libgtest-dev libgmock-dev \
	qt6-base-dev qt6-base-dev-tools libqt6opengl6-dev qcoro-qt6-dev libxcb1-dev libxcb-keysyms1-dev \
	qt6-svg-dev qt6-image-formats-plugins adwaita-icon-theme \
	xvfb xauth fonts-wqy-microhei
DEB_PACKAGES += x11proto-dev  # X11 keysym names for the global hot key's grab
DEB_PACKAGES += libpoppler-qt6-dev  # PDF pages of the thumbnailer helper
DEB_PACKAGES += libavformat-dev libavcodec-dev libswscale-dev libavutil-dev  # its video frames
DEB_PACKAGES += ffmpeg  # the tests make a small MP4 with it
DEB_PACKAGES += libheif-dev libraw-dev  # its HEIC, AVIF and camera RAW pictures
DEB_PACKAGES += libheif-examples  # the tests make a HEIC and an AVIF with its encoder
DEB_PACKAGES += libtesseract-dev tesseract-ocr-chi-sim tesseract-ocr-eng  # text recognition of the image tagger
DEB_PACKAGES += qt6-translations-l10n  # Qt's own Chinese texts of standard buttons and dialogs
DEB_PACKAGES += dbus-daemon desktop-file-utils  # the portal tests' private bus; the installed launcher's check
DEB_PACKAGES += libopencv-dev  # the object detector's network
# The client that fetches the detector's model; a machine whose Node.js
# already brings npm keeps it (Debian's package would conflict with it).
DEB_PACKAGES += $(if $(shell command -v npm),,npm)
DEB_PACKAGES += python3-skimage darknet  # sample photos the detector's tests look at

DEB_PACKAGES += ccache  # a rebuild of sources compiled before takes seconds

# A compiler cache where the machine has one; paths relative to the checkout,
# so another clone of the same sources hits it too.
ifneq ($(shell command -v ccache),)
CMAKE_FLAGS += -DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache
export CCACHE_BASEDIR := $(CURDIR)
endif

SUDO := $(shell [ "$$(id -u)" = 0 ] || echo sudo)
JOBS ?= $(shell nproc)

PREFIX ?= /usr/local

.PHONY: deps configure models build test run bench install clean

deps:
	@missing=$$(for p in $(DEB_PACKAGES); do \
		dpkg-query -W -f='$${Status}\n' $$p 2>/dev/null | grep -q 'install ok installed' || echo $$p; \
	done); \
	if [ -n "$$missing" ]; then \
		echo "Installing:" $$missing; \
		$(SUDO) apt-get -o DPkg::Lock::Timeout=900 update -q && \
		DEBIAN_FRONTEND=noninteractive $(SUDO) apt-get -o DPkg::Lock::Timeout=900 install -y -q --no-install-recommends $$missing; \
	fi

configure: deps
	cmake -S . -B $(BUILD_DIR) -G Ninja -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) $(CMAKE_FLAGS)

# The detector's model files go into the build folder; never committed.
models: deps
	tools/fetch-detector-model.sh $(BUILD_DIR)/models

build: configure models
	cmake --build $(BUILD_DIR) -j $(JOBS) $(BUILD_TARGETS)

test: build
	cd $(BUILD_DIR) && ctest --output-on-failure -j $(JOBS) $(CTEST_ARGS)

run: build
	@if [ -x $(BUILD_DIR)/src/UI/pallix ]; then \
		exec $(BUILD_DIR)/src/UI/pallix; \
	else \
		echo "珀溪 has no window yet: the engine, the application model and their tests are built."; exit 1; \
	fi

# `build` compiles pallix-bench with everything else; this runs the comparison.
bench: build
	bench/compare.sh $(BUILD_DIR)

# Installs into $(PREFIX) (DESTDIR is honoured, for packaging): the program
# and its helpers for thumbnails and image recognition (stripped by the
# install rules), the launcher and the icon. The build is configured for the
# prefix, as the launcher names the installed program.
install: models
	cmake -S . -B $(BUILD_DIR) -G Ninja -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) -DCMAKE_INSTALL_PREFIX=$(PREFIX) $(CMAKE_FLAGS)
	cmake --build $(BUILD_DIR) -j $(JOBS) --target pallix pallix-thumbnailer pallix-recogniser pallix-icons
	@if [ -z "$$DESTDIR" ] && ! [ -w "$(PREFIX)" ] && [ "$$(id -u)" != 0 ]; then \
		sudo cmake --install $(BUILD_DIR) --prefix $(PREFIX); \
	else \
		cmake --install $(BUILD_DIR) --prefix $(PREFIX); \
	fi

clean:
	rm -rf build build-asan build-tsan
