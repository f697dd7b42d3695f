#!/usr/bin/env bash
# Installs every Debian package the build, the programs and the tests need.
# Safe to run again; works as root without sudo.
set -euo pipefail

packages=(
  # build
  build-essential cmake ninja-build pkg-config git ccache
  # tunnel client and applier
  libsodium-dev nlohmann-json3-dev libmnl-dev
  # tests, benchmarks, fuzzing
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  clang libclang-rt-14-dev llvm
  libssl-dev
  # desktop program
  qt6-base-dev qt6-base-dev-tools qt6-declarative-dev qt6-declarative-dev-tools
  qt6-websockets-dev qt6-multimedia-dev qt6-svg-dev qt6-5compat-dev qt6-httpserver-dev
  qt6-qpa-plugins qt6-image-formats-plugins
  qml6-module-qtqml qml6-module-qtqml-workerscript qml6-module-qtquick
  qml6-module-qtquick-controls qml6-module-qtquick-templates qml6-module-qtquick-layouts
  qml6-module-qtquick-window qml6-module-qtquick-dialogs qml6-module-qtcore
  qml6-module-qt5compat-graphicaleffects qml6-module-qtmultimedia qml6-module-qttest
  qml6-module-qt-labs-settings qml6-module-qtwebsockets
  libgl1-mesa-dri fonts-dejavu-core
  # colour emoji of the tutorial titles; fontconfig maps the families the window names
  # (e.g. Consolas) to installed ones
  fonts-noto-color-emoji fontconfig
  # running and testing for real
  xvfb xauth openbox xdotool imagemagick x11-utils curl iproute2 iputils-ping procps util-linux psmisc kmod
  # reading what a window test's page says (English and Persian)
  tesseract-ocr tesseract-ocr-eng tesseract-ocr-fas
  # the right of the tunnel client to configure its adapter, for a user who is not root
  libcap2-bin acl attr perl-base mount passwd
  # the desktop's URL opener, through which the window opens web and Steam links
  xdg-utils
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
  echo "install-deps: all packages present"
  exit 0
fi

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
echo "install-deps: installed ${#missing[@]} packages"
