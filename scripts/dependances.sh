#!/usr/bin/env bash
# The one list of Debian 12 packages the build, the tests and the benchmarks need.
# Idempotent: installs only what is missing.
set -euo pipefail

paquets=(
  # build
  g++ make cmake ninja-build pkg-config git
  # libraries (RapidJSON, {fmt}, Boost.UUID are header-only or small)
  rapidjson-dev libfmt-dev libboost-dev
  # compressed inputs: ISA-L (gzip) and libzstd; zlib makes the test fixtures and is the gzip
  # library of the Windows build
  libisal-dev libzstd-dev zlib1g-dev
  # clang-tidy (make tidy): clang 16, whose front end reads libstdc++ 12's <expected>
  clang-tidy-16
  # the house style: make format, make format-check (the version is pinned: another formats differently)
  clang-format-16
  # tests and benchmarks
  libgtest-dev libgmock-dev libbenchmark-dev hyperfine
  # fuzz targets (make fuzz): clang 16, its libFuzzer and sanitizer runtimes, llvm-symbolizer for reports
  clang-16 libclang-rt-16-dev llvm-16
  # the compressed copies of the benchmark cohorts
  gzip zstd
  # the cluster driver (outils/calibrage-grappe) and its tests: Dask, dask-scheduler, dask-worker
  python3-distributed
  # Linux recording back end: X11 through xcb, FFmpeg's swscale and libavcodec (libx264)
  libxcb1-dev libxcb-res0-dev libxcb-shm0-dev libavcodec-dev libavutil-dev libswscale-dev
  # end-to-end checks: a private X server, a real client to record, independent file readers
  xvfb x11-apps x11-utils ffmpeg mkvtoolnix
  # Windows cross build and its command-line tests
  g++-mingw-w64-x86-64-posix mingw-w64-x86-64-dev libz-mingw-w64-dev wine64
  # the analyst's HTML report (outils/rapport-analyste) and its check in a headless browser
  python3-matplotlib python3-numpy python3-pil chromium
)

manquants=()
for p in "${paquets[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    manquants+=("$p")
  fi
done

if [ ${#manquants[@]} -eq 0 ]; then
  exit 0
fi

echo "installation : ${manquants[*]}"
sudo_si_besoin=()
if [ "$(id -u)" -ne 0 ]; then
  sudo_si_besoin=(sudo)
fi
export DEBIAN_FRONTEND=noninteractive
"${sudo_si_besoin[@]}" apt-get update -qq
"${sudo_si_besoin[@]}" apt-get install -y -qq --no-install-recommends "${manquants[@]}"
