#!/usr/bin/env bash
# Installs with apt-get whatever groundview needs that this Debian or Ubuntu
# machine lacks. "build" is enough to build and run the viewer and the map
# tools; "test" adds what the tests, benchmarks and fuzz targets need.
#   tools/install-deps.sh [build|test]
set -euo pipefail

# One package a line, so that lists grow without conflicts.
# Building: the compiler and build tools, then every library the build links.
build_packages=(
  build-essential
  cmake
  pkg-config
  liballegro4-dev
  zlib1g-dev
  libcli11-dev
  libstb-dev
  libpugixml-dev
  nlohmann-json3-dev
  libzstd-dev
  libssl-dev
  libgif-dev
  libjpeg62-turbo-dev
  libavcodec-dev
  libavformat-dev
  libavfilter-dev
  libswscale-dev
  libavutil-dev
)

# Testing: ccache, which keeps compilations between runs; the unit tests and
# benchmarks; Allegro's own PNG reader and writer, which the image tests hold
# ours to (libloadpng4-dev's link flags name -lpng, but the package does not
# depend on libpng-dev); the viewer under Xvfb, valgrind, clang with
# libFuzzer for the fuzz targets, Tiled for the tests against it, and
# time for what a crafted map costs, debootstrap and git for the
# fresh-machine check (tests/fresh_machine.sh); ImageMagick, whose decoding
# the GIF and JPEG tests hold ours to; headless Chromium to show a walk's
# GIF in a real browser.
test_packages=(
  ccache
  libgtest-dev
  libloadpng4-dev
  libpng-dev
  libbenchmark-dev
  xvfb
  xdotool
  x11-utils
  clang
  libclang-rt-14-dev
  valgrind
  tiled
  time
  debootstrap
  git
  imagemagick
  chromium-headless-shell
)

case "${1:-build}" in
  build) packages=("${build_packages[@]}") ;;
  test) packages=("${build_packages[@]}" "${test_packages[@]}") ;;
  *) echo "usage: $0 [build|test]" >&2; exit 2 ;;
esac

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -eq 0 ] || sudo=sudo
echo "installing: ${missing[*]}"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}" >/dev/null
