#!/usr/bin/env bash
# Installs the Debian packages the project builds and tests with.
# Safe to run again: packages already present are left alone, and nothing asks a question.
set -euo pipefail

packages=(
  # toolchain
  g++ cmake ninja-build pkg-config
  # runtime libraries
  qt6-base-dev libsqlite3-dev nlohmann-json3-dev
  libpulse-dev libsoxr-dev libfftw3-dev libicu-dev libcurl4-openssl-dev libsndfile1-dev
  # X11: the frontmost window, global input events and synthetic keys; AT-SPI2 for other applications' fields
  libx11-dev libxcb1-dev libxi-dev libxtst-dev libatspi2.0-dev
  # on-device speech recognition and its US English model
  libpocketsphinx-dev libsphinxbase-dev pocketsphinx-en-us
  # tests and benchmarks
  libgtest-dev libgmock-dev libbenchmark-dev
  # real-component tests: a private sound server fed with synthetic speech
  pulseaudio pulseaudio-utils espeak-ng sox
  # real-component tests: a private X display with the accessibility bus and a GTK application
  xvfb at-spi2-core python3-gi gir1.2-gtk-3.0
  # real-component tests: applications nobody here wrote, under a window manager, driven by synthetic keys
  openbox mousepad gedit xterm xdotool x11-utils imagemagick
  # HTTP stand-ins for the backend and speech services
  libcpp-httplib-dev openssl
)

missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "ok installed"; then
    missing+=("$package")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "install-deps: every package is present"
  exit 0
fi

if [ "$(id -u)" -eq 0 ]; then
  run_as_root=()
elif command -v sudo >/dev/null 2>&1; then
  run_as_root=(sudo -n)
else
  echo "install-deps: need root or sudo to install: ${missing[*]}" >&2
  exit 1
fi

echo "install-deps: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
"${run_as_root[@]}" apt-get update -q
"${run_as_root[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
