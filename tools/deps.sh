#!/usr/bin/env bash
# Installs the Debian 12 packages the project builds, tests and runs with.
set -euo pipefail
# Chromium: the engine library runs the headless shell (chromium-headless-shell);
# chromium itself is the benchmarks' baseline and the engine's other choice.
# file and dpkg-dev: what cpack -G DEB needs to find the programs' library packages.
# Sound: pulseaudio and pulseaudio-utils (parec) for the test that records a page's
# tone. Fonts for real pages, mapped to the Windows family names by
# cefengine/data/fonts.conf: fonts-liberation2 (Arial, Times New Roman, Courier New:
# metric copies), fonts-wine (Tahoma itself), fonts-crosextra-carlito and -caladea
# (Calibri, Cambria: metric copies), fonts-open-sans (Segoe UI: no metric copy is
# packaged; Open Sans is by the same designer and of close proportions); Verdana
# gets DejaVu Sans (the Vera design, as wide as Verdana). Noto for the world's
# scripts (fonts-noto-core, fonts-noto-cjk) and colour emoji (fonts-noto-color-emoji).
SUDO=""
if [ "$(id -u)" != 0 ]; then SUDO=sudo; fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends \
  cmake g++ make pkg-config ca-certificates \
  libgtest-dev libgmock-dev libbenchmark-dev \
  chromium chromium-headless-shell \
  libglib2.0-dev libgtk-3-dev \
  nlohmann-json3-dev libspng-dev libdeflate-dev \
  xvfb xauth xdotool x11-utils \
  clang libclang-rt-14-dev \
  libxml2-dev libpugixml-dev python3 openssl file dpkg-dev \
  fonts-dejavu-core \
  pulseaudio pulseaudio-utils \
  fonts-liberation2 fonts-wine fonts-open-sans fonts-crosextra-carlito fonts-crosextra-caladea \
  fonts-noto-core fonts-noto-cjk fonts-noto-color-emoji
