#!/usr/bin/env bash
# Installs what building and running the program needs on Debian 12.
#   --tests  also the sample photos some tests read
#   --bench  also OpenCV, the comparison of the isolation benchmark, and ImageMagick,
#            which makes its noisy photo
set -euo pipefail
sudo=""
if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
packages=(g++ make cmake qt6-base-dev qt6-image-formats-plugins qt6-l10n-tools libgl-dev)
for option in "$@"; do
  case "$option" in
    --tests) packages+=(mate-backgrounds) ;;
    --bench) packages+=(mate-backgrounds libopencv-dev imagemagick) ;;
  esac
done
$sudo apt-get update
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y --no-install-recommends "${packages[@]}"
