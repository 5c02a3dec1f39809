#!/usr/bin/env bash
# Installs every Debian 12 package that building and testing QyrDelay needs, and the Chinese
# locale that Wine takes its code page 936 from (libgnutls30: Wine's ECDSA, which checks signed power
# commands). Safe to run again.
set -euo pipefail
SUDO=""
[ "$(id -u)" = 0 ] || SUDO="sudo"

packages=(
  cmake ninja-build g++ clang libclang-rt-14-dev libgtest-dev googletest
  g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
  wine64 libgnutls30 xvfb x11-utils xdotool imagemagick fonts-wqy-microhei locales nsis iproute2
  libssl-dev libcpp-httplib-dev nlohmann-json3-dev libcli11-dev pkg-config
  chromium chromium-driver python3 python3-selenium
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

if ! locale -a 2>/dev/null | grep -qi '^zh_CN\.utf-\?8$'; then
  $SUDO sed -i 's/^# *\(zh_CN.UTF-8 UTF-8\)/\1/' /etc/locale.gen
  grep -q '^zh_CN.UTF-8 UTF-8' /etc/locale.gen || echo 'zh_CN.UTF-8 UTF-8' | $SUDO tee -a /etc/locale.gen >/dev/null
  $SUDO locale-gen >/dev/null
fi

# qyrsend.exe serves the hall page too: Debian's libcpp-httplib-dev is the Linux library (its header
# only declares), so the Windows build takes the whole header from Debian's source package of the
# very version installed, with Debian's patches applied.
httplib_src=/usr/local/src/qyr-deps/cpp-httplib
if [ ! -f "$httplib_src/httplib.h" ]; then
  dpkg-query -W -f='${Status}' dpkg-dev 2>/dev/null | grep -q "ok installed" ||
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends dpkg-dev
  version="$(dpkg-query -W -f='${Version}' libcpp-httplib-dev)"
  if ! apt-cache showsrc cpp-httplib 2>/dev/null | grep -qx "Version: $version"; then
    if ! grep -rqs '^Types:.*deb-src\|^deb-src ' /etc/apt/sources.list /etc/apt/sources.list.d/; then
      $SUDO tee /etc/apt/sources.list.d/qyr-src.sources >/dev/null <<'SOURCES'
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: bookworm bookworm-updates
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SOURCES
    fi
    $SUDO apt-get update -qq
  fi
  scratch="$(mktemp -d)"
  (cd "$scratch" && apt-get source -qq "cpp-httplib=$version" >/dev/null)
  $SUDO mkdir -p "$(dirname "$httplib_src")"
  $SUDO rm -rf "$httplib_src"
  $SUDO mv "$scratch"/cpp-httplib-*/ "$httplib_src"
  rm -rf "$scratch"
fi
