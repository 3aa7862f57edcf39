#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the benchmarks need; does nothing when
# they are all there already.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config python3
  qt6-base-dev zlib1g-dev libdeflate-dev libgtest-dev googletest libbenchmark-dev
  # peer tools the tests and benchmarks compare against
  zip unzip p7zip-full libarchive-tools sharutils gzip tar time
  arj lhasa unar jlha-utils  # ARJ, LHA and ZOO readers the engine tests and benchmarks check against
  libmspack-dev cabextract gcab  # the cabinet layer's decoder; CAB peers the tests and benchmarks use
  imagemagick netpbm libjpeg-turbo-progs libtiff-tools  # pictures made and read back by the picture tests
  libjpeg62-turbo-dev libstb-dev  # the JPEG benchmark's peers (bench/jpeg_bench.cpp only)
  libpng-dev libspng-dev libgif-dev  # peers of the PNG and GIF decoding benchmark (bench/png_gif_bench.cpp)
  desktop-file-utils xdg-utils  # the desktop files we write are checked against these
  clamav file  # the virus-scan tests run clamscan on a signature of their own; the stub's type
  poppler-utils  # pdfinfo and pdftotext read back the printed lists
  libwmf-bin gsfonts  # wmf2gd (and the fonts it needs to start) renders the WMF samples the metafile tests compare with
  libtiff-dev  # the TIFF benchmark times libtiff's TIFFReadRGBAImage beside our decoder
  # fonts for the window tests and the README pictures on the offscreen platform
  fonts-dejavu-core
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
echo "Installing: ${missing[*]}"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
