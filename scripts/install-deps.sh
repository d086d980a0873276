#!/usr/bin/env bash
# Installs every Debian 12 package the project needs: build, tests, benchmarks, fuzzing,
# the engine's libraries, the user interface, the outside references used by tests, and the
# tools that make and check the Debian package.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  libgtest-dev libgmock-dev libbenchmark-dev clang libclang-rt-14-dev
  qt6-base-dev qt6-base-dev-tools
  libgstreamer1.0-dev libgstreamer-plugins-base1.0-dev
  gstreamer1.0-plugins-base gstreamer1.0-plugins-good gstreamer1.0-plugins-bad
  gstreamer1.0-plugins-ugly gstreamer1.0-libav gstreamer1.0-tools
  libmpg123-dev libmp3lame-dev libmp3lame0 lame
  libtag1-dev libtinyxml2-dev libflac-dev libebur128-dev
  ffmpeg sox time flac vorbis-tools opus-tools
  xvfb xdotool x11-utils imagemagick dbus xdg-utils at-spi2-core libglib2.0-bin
  dpkg-dev lintian appstream desktop-file-utils man-db groff-base bash-completion
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

as_root=()
if [ "$(id -u)" -ne 0 ]; then as_root=(sudo); fi
as_root+=(env DEBIAN_FRONTEND=noninteractive)
"${as_root[@]}" apt-get update -q
"${as_root[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
