#!/usr/bin/env bash
# Installs with apt-get whatever groundview needs that this Debian or Ubuntu
# machine lacks. "build" is enough to build and run the viewer; "test" adds
# what the tests need.
set -euo pipefail

packages=(build-essential cmake pkg-config liballegro4-dev libloadpng4-dev libcli11-dev libstb-dev
          libpugixml-dev nlohmann-json3-dev zlib1g-dev libzstd-dev libssl-dev)
if [ "${1:-build}" = test ]; then
  packages+=(libgtest-dev libbenchmark-dev xvfb xdotool x11-utils clang libclang-rt-14-dev valgrind tiled)
fi

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
