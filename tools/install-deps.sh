#!/usr/bin/env bash
# Installs what building and running the program needs on Debian 12.
#   --sample   also Debian's sample photos (the README opens the ladybird)
#   --tests    also the sample photos some tests read
#   --bench    also OpenCV, the benchmarks' comparisons, and ImageMagick, which makes
#              their noisy photo
#   --package  also the tools that check the installation and build the Debian package
#   --fuzz     also clang and its fuzzing runtime, for the fuzz targets
set -euo pipefail
sudo=""
if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
# qt6-tools-dev brings the CMake side of lupdate and lrelease; qt6-translations-l10n the
# toolkit's own texts in German.
packages=(g++ make cmake qt6-base-dev qt6-image-formats-plugins qt6-l10n-tools qt6-tools-dev
          qt6-translations-l10n libgl-dev libpng-dev)
for option in "$@"; do
  case "$option" in
    --sample | --tests) packages+=(mate-backgrounds) ;;
    --bench) packages+=(mate-backgrounds libopencv-dev imagemagick) ;;
    --package) packages+=(desktop-file-utils appstream lintian dpkg-dev file) ;;
    --fuzz) packages+=(clang-14 libclang-rt-14-dev) ;;
  esac
done
$sudo apt-get update
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y --no-install-recommends "${packages[@]}"
