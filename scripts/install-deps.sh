#!/usr/bin/env bash
# Installs every Debian package Vyo needs to build, run and test.
# Idempotent: packages already present are left alone, and the package lists
# are refreshed only when something is missing. Run as root (or through sudo).
set -euo pipefail

packages=(
  # Build tools
  build-essential cmake ninja-build pkg-config clang-format ccache
  # Qt 6 toolkit
  qt6-base-dev qt6-base-dev-tools qt6-websockets-dev qt6-httpserver-dev
  qt6-image-formats-plugins qt6-svg-dev qt6-translations-l10n libgl-dev libxkbcommon-dev
  adwaita-icon-theme
  # Archives, checksums and cryptography
  zlib1g-dev libssl-dev
  # Images, text recognition, PDF and QR codes
  libheif-dev libtesseract-dev libleptonica-dev tesseract-ocr-kor tesseract-ocr-eng
  libqpdf-dev libpoppler-qt6-dev libqrencode-dev
  # WebRTC data channels
  libtgowt-dev
  # X11 integration
  libxcb1-dev libxcb-xinput-dev libxcb-xfixes0-dev libx11-dev libx11-xcb-dev
  # Test tools: a real X server and window manager, archive readers, a Korean font
  xvfb xauth openbox xdotool xcompmgr x11-utils dbus dbus-x11 unzip zip
  libarchive-tools p7zip-full fonts-noto-cjk python3 xdg-utils trayer imagemagick zbar-tools
  iproute2 desktop-file-utils
  # Packages: building and checking them, and the balancer in front of several share services
  dpkg-dev fakeroot lintian appstream librsvg2-bin haproxy
  # Share page tests and relay tests
  chromium chromium-driver coturn firefox-esr
)
# The machine image may bring its own Node.js with npm; use Debian's only where none is there.
command -v npm >/dev/null 2>&1 || packages+=(nodejs npm)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "install-deps: every package is already installed"
  exit 0
fi

SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive
echo "install-deps: installing ${missing[*]}"
$SUDO apt-get update -q
$SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
