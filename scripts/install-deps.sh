#!/usr/bin/env bash
# Installs the Debian packages Sorrel needs to build, test and show its window, and the
# comma-decimal locale the readers' tests run under.
set -euo pipefail
packages=(cmake ninja-build g++ clang libclang-rt-14-dev libgtest-dev libgmock-dev
          libbenchmark-dev qt6-base-dev libgl1-mesa-dev xvfb xauth x11-utils openbox imagemagick xdotool dpkg-dev locales
          pybind11-dev python3-dev python3-numpy python3-pytest
          libgrpc++-dev protobuf-compiler protobuf-compiler-grpc libssl-dev python3-grpcio python3-protobuf)
missing=()
for p in "${packages[@]}"; do
  [ "$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null)" = "install ok installed" ] || missing+=("$p")
done
sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}"
fi
if ! locale -a | grep -ix 'de_DE\.utf-\?8' >/dev/null; then
  echo "Making the locale de_DE.UTF-8"
  $sudo localedef -i de_DE -f UTF-8 de_DE.UTF-8
fi
