# Entry points of the README: everything else is CMake's.
BUILD ?= build
JOBS ?= $(shell nproc)

.PHONY: deps build test asan bench run package package-check clean

deps:
	bash scripts/install-deps.sh

build: deps
	cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build $(BUILD) -j $(JOBS)

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

asan: deps
	cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCHM_SANITIZE=ON
	cmake --build build-asan -j $(JOBS)
	cd build-asan && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 ctest --output-on-failure -j $(JOBS)

# The Debian packages, in $(BUILD)/tavorin-chm_VERSION_ARCH.deb (the command line) and
# $(BUILD)/tavorin-channel-merger_VERSION_ARCH.deb (the desktop program).
package: build
	cmake --build $(BUILD) --target package

# Builds the package, installs it on this machine, uses it, and purges it again (root or sudo).
package-check: deps
	bash scripts/package-check.sh $(BUILD)

bench: build
	bash bench/run.sh $(BUILD)

# Builds and starts the program, with a few stereo files made by sox to try it on.
DEMO ?= $(BUILD)/demo-stereo
run: build
	@mkdir -p "$(DEMO)/Concert" "$(DEMO)/Field Recordings"
	@sox -q -n -r 44100 -b 16 -c 2 "$(DEMO)/Concert/01 Two Tones.wav" synth 30 sine 440 sine 660 vol 0.5
	@sox -q -n -r 44100 -b 16 -c 2 "$(DEMO)/Concert/02 Rising Left.wav" synth 20 sine 220-880 sine 330 vol 0.5
	@sox -q -n -r 48000 -b 16 -c 2 "$(DEMO)/Concert/03 Slow Beat.wav" synth 25 square 2 sine 523 vol 0.4
	@sox -q -n -r 44100 -b 16 -c 2 "$(DEMO)/Field Recordings/Wind.wav" synth 40 brownnoise brownnoise vol 0.3
	@sox -q -n -r 22050 -b 16 -c 2 "$(DEMO)/Field Recordings/Right Only.wav" synth 15 sine 0 sine 392 vol 0.5
	@echo "Demo stereo files are in $(DEMO): add them with Add > Add Folder..."
	$(BUILD)/app/TavorinCHM

clean:
	rm -rf $(BUILD) build-asan
