#!/usr/bin/env bash
# Installs the Debian 12 packages the project builds, tests and runs with.
set -euo pipefail
SUDO=""
if [ "$(id -u)" != 0 ]; then SUDO=sudo; fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends \
  cmake g++ make pkg-config ca-certificates \
  libgtest-dev libgmock-dev libbenchmark-dev \
  chromium \
  libglib2.0-dev libgtk-3-dev \
  nlohmann-json3-dev libspng-dev libdeflate-dev \
  xvfb xauth xdotool x11-utils \
  clang libclang-rt-14-dev \
  libxml2-dev libpugixml-dev python3 \
  fonts-dejavu-core
