#!/usr/bin/env bash
# One entry point for a fresh Debian 12 machine (run as root):
#   ./setup.sh         install what is missing, build modules, bench and tools, render every gauge
#                      and the sample panel to out/
#   ./setup.sh test    install what is missing, build, run every test (also under the sanitizers)
set -euo pipefail
cd "$(dirname "$0")"

packages=(
  cmake ninja-build g++ pkg-config clang libclang-rt-14-dev
  g++-mingw-w64-i686 binutils-mingw-w64-i686
  libunicorn-dev libcapstone-dev
  librsvg2-dev libcairo2-dev libimagequant-dev libpng-dev libstb-dev fonts-dejavu-core
  libgtest-dev libgmock-dev libbenchmark-dev
  libcpp-httplib-dev chromium chromium-driver python3-selenium
)

install_missing() {
  local missing=()
  for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  if ((${#missing[@]})); then
    echo "== installing: ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    apt-get install -y -qq --no-install-recommends "${missing[@]}"
  fi
}

build() {  # build PRESET
  cmake --preset "$1" >/dev/null
  cmake --build --preset "$1"
}

install_missing
case "${1:-}" in
  "")
    build default
    mkdir -p out
    echo "== built modules:"
    ls -1 build/gau/*.gau
    echo "== rendering every gauge with the bench"
    bench=build/bench/cli/gaugebench
    for gau in build/gau/*.gau; do
      name=$(basename "$gau" .gau)
      "$bench" render "$gau" --set 0x98=4915 --set 0xBB=3550 --set 0x88=16384 --set 0xAB=12000 \
        --set 0x162=2 --set 0x67=1 --set 0x80=12000 --set 0xA3=8000 --set 0x81=16384 --set 0xA4=16384 \
        --set 0x82=16384 --set 0xA5=12000 -o "out/$name.png"
    done
    echo "== rendering the sample twin-engine main panel"
    "$bench" panel build/panels/twin_main/panel.cfg --gauges build/gau -o out/panel.png \
      --set 0x98=4915 --set 0xBB=4900 --set 0x88=16384 --set 0xAB=16300 --set 0x162=2 \
      --set 0x80=12000 --set 0xA3=12000 --set 0x81=16384 --set 0xA4=16384 --set 0x82=16384 --set 0xA5=16384
    echo "== see out/*.png; live panel in a browser: $bench serve build/panels/twin_main/panel.cfg --gauges build/gau"
    ;;
  test)
    build default
    ctest --preset default -j2
    # Native code again under AddressSanitizer and UndefinedBehaviorSanitizer (the fuzzer, the
    # browser and the second module build have run above).
    build sanitize
    ctest --preset sanitize -j2 -LE 'fuzz|browser' -E modules_are_reproducible
    ;;
  *)
    echo "usage: $0 [test]" >&2
    exit 2
    ;;
esac
