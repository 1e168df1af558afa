#!/usr/bin/env bash
# Installs every Debian 12 package the build, the client and the tests need. Idempotent.
set -euo pipefail

packages=(
    # build
    build-essential cmake pkg-config clang clang-format libclang-rt-14-dev
    qt6-base-dev qt6-webengine-dev qt6-webengine-dev-tools libqt6webenginecore6-bin libgl-dev
    libminizip-dev zlib1g-dev libjsoncpp-dev libcurl4-openssl-dev libcpp-httplib-dev
    libx11-dev libxcb1-dev libxcb-keysyms1-dev libxcb-randr0-dev libxcb-res0-dev libssl-dev
    googletest libgtest-dev libgmock-dev libbenchmark-dev
    # the platform headers' check with the Windows compilers (scripts/check_platform_seam.sh; the
    # 32-bit one comes with g++-mingw-w64-i686-posix below)
    g++-mingw-w64-x86-64
    # run: fonts for the Chinese texts of the skin and the pages, the desktop integration, the MIME
    # database that gives model files their types
    fonts-wqy-microhei xdg-utils desktop-file-utils shared-mime-info
    # tests: virtual display, window manager, input and window-state tools, a JavaScript engine
    xvfb xauth openbox xdotool wmctrl x11-utils xclip imagemagick python3 nodejs unzip zip openssl
    procps
    # tests: the reference for the client's virtual-machine report (systemd-detect-virt)
    systemd
    # the Debian package and its tests: package tools, lintian, appstreamcli, the openers of
    # vornapp: links
    dpkg-dev file lintian appstream libglib2.0-bin dbus-daemon
    # the lock's tests under the window managers of the common desktops (KWin, Xfwm4, Marco; the
    # last two on a session bus, Marco with its settings schemas) and a desktop panel
    kwin-x11 xfwm4 marco mate-settings-daemon-common tint2
    # ... and GNOME's (mutter); a second monitor (Xorg's dummy driver, set up with xrandr)
    mutter xserver-xorg-core xserver-xorg-video-dummy x11-xserver-utils
    # ... what must stay usable above the lock (an input method: fcitx5 with pinyin and its Qt
    # module) and what must not stay above it (a notification daemon and its sender)
    fcitx5 fcitx5-chinese-addons fcitx5-frontend-qt6 ibus ibus-libpinyin ibus-gtk3 dunst
    libnotify-bin
    # the Windows layer: the mingw-w64 cross compilers (posix threads) and resource compilers for
    # 64-bit and 32-bit Windows, GoogleTest's sources to build for Windows, Wine's 64-bit and
    # 32-bit loaders to run the tests (scripts/test-windows.sh); wine32 is an i386 package
    g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 mingw-w64-x86-64-dev wine wine64 libwine
    g++-mingw-w64-i686-posix binutils-mingw-w64-i686 mingw-w64-i686-dev wine32:i386
    # zlib for the Windows build of the archive layer (its minizip is built from third_party/)
    libz-mingw-w64-dev
)

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
    echo "setup: all packages present"
    exit 0
fi

SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
echo "setup: installing ${missing[*]}"
# wine32 comes from the i386 architecture, which apt must know before its lists are fetched.
if ! dpkg --print-foreign-architectures | grep -qx i386; then
    $SUDO dpkg --add-architecture i386
fi
# Other installs may hold dpkg's lock for a while; wait for it rather than fail.
$SUDO apt-get -o DPkg::Lock::Timeout=900 update
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -o DPkg::Lock::Timeout=900 "${missing[@]}"
