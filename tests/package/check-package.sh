#!/usr/bin/env bash
# The Debian packages built from this build folder: scripts/package.sh makes them and runs the
# validators (desktop-file-validate, appstreamcli, lintian); here both are unpacked into a
# temporary root with dpkg-deb -x and their files, metadata and scripts are checked. A user-level
# install (cmake --install … --prefix ~/.local) must stay inside its prefix.
#
#   tests/package/check-package.sh BUILD_DIR        (exit 77: skipped, dpkg-deb is missing)
set -euo pipefail
if ! command -v dpkg-deb >/dev/null 2>&1; then
    echo "SKIPPED: dpkg-deb is missing, so no Debian package can be built or unpacked here"
    exit 77
fi
root=$(cd "$(dirname "$0")/../.." && pwd)
build=$(realpath "$1")
work=$(mktemp -d "${TMPDIR:-/tmp}/vyo-package-test.XXXXXX")
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
has() { [ -e "$work/root$1" ] || fail "missing $1"; }
contains() { grep -qF -- "$2" "$work/root$1" || fail "$1 lacks '$2'"; }

"$root/scripts/package.sh" "$build" "$work/debs" >"$work/paths"
app=$(sed -n 1p "$work/paths")
service=$(sed -n 2p "$work/paths")
dpkg-deb -x "$app" "$work/root"
dpkg-deb -x "$service" "$work/root"
field() { dpkg-deb -f "$1" "$2"; }

# The application package.
for f in /usr/bin/vyo /usr/libexec/vyo/vyo-ocr /usr/share/applications/app.vyo.Vyo.desktop \
    /usr/share/metainfo/app.vyo.Vyo.metainfo.xml /usr/share/icons/hicolor/scalable/apps/app.vyo.Vyo.svg \
    /usr/share/dbus-1/services/app.vyo.Vyo.service /usr/share/vyo/Acknowledgements.txt \
    /usr/share/doc/vyo/copyright /usr/share/doc/vyo/changelog.gz /usr/share/man/man1/vyo.1.gz; do
    has "$f"
done
for size in 16 22 24 32 48 64 128 256; do
    png=/usr/share/icons/hicolor/${size}x${size}/apps/app.vyo.Vyo.png
    has "$png"
    # Width and height from the PNG header.
    actual=$(python3 -c 'import struct,sys; d=open(sys.argv[1],"rb").read(24); print("%dx%d" % struct.unpack(">II", d[16:24]))' "$work/root$png" 2>/dev/null || true)
    [ "$actual" = "${size}x${size}" ] || fail "$png is $actual"
done
contains /usr/share/dbus-1/services/app.vyo.Vyo.service "Exec=/usr/bin/vyo"
contains /usr/share/applications/app.vyo.Vyo.desktop "MimeType=x-scheme-handler/vyoshelf;"
contains /usr/share/applications/app.vyo.Vyo.desktop "[Desktop Action share-shelf]"
version=$(field "$app" Version)
contains /usr/share/metainfo/app.vyo.Vyo.metainfo.xml "<release version=\"$version\""
contains /usr/share/metainfo/app.vyo.Vyo.metainfo.xml "<binary>vyo</binary>"
contains /usr/share/metainfo/app.vyo.Vyo.metainfo.xml "<summary xml:lang=\"ko\">"
depends=$(field "$app" Depends)
for dependency in tesseract-ocr-kor tesseract-ocr-eng libqt6widgets6 libtesseract5 libqpdf29; do
    [[ "$depends" == *"$dependency"* ]] || fail "vyo does not depend on $dependency: $depends"
done
# Every bundled or linked library the about pane names has its licence in the copyright file
# or its own package; the ones built into the binaries are in the copyright file.
for part in "@noble/hashes" "libtg_owt" "License: Expat" "License: BSD-3-Clause"; do
    contains /usr/share/doc/vyo/copyright "$part"
done
[[ "$(QT_QPA_PLATFORM=offscreen "$work/root/usr/bin/vyo" --version)" == *"$version"* ]] ||
    fail "the packaged vyo does not run"

# The service package.
for f in /usr/bin/vyo-service /lib/systemd/system/vyo-service.service /etc/vyo-service.conf \
    /usr/share/doc/vyo-service/copyright /usr/share/man/man1/vyo-service.1.gz \
    /usr/share/doc/vyo-service/examples/haproxy.cfg \
    /usr/share/doc/vyo-service/examples/turnserver.conf /usr/share/doc/vyo-service/examples/README.md; do
    has "$f"
done
for line in "ExecStart=/usr/bin/vyo-service --config /etc/vyo-service.conf" "User=vyo-service" \
    "NoNewPrivileges=true" "ProtectSystem=strict" "ProtectHome=true" "Restart=on-failure"; do
    contains /lib/systemd/system/vyo-service.service "$line"
done
dpkg-deb -c "$service" >"$work/service-files"
grep -qE '^-rw------- root/root .* \./etc/vyo-service\.conf$' "$work/service-files" ||
    fail "/etc/vyo-service.conf is not root's with mode 600 in the package"
dpkg-deb -e "$service" "$work/control"
grep -qx /etc/vyo-service.conf "$work/control/conffiles" || fail "the configuration is no conffile"
grep -q "adduser --quiet --system" "$work/control/postinst" || fail "postinst makes no user"
[[ "$(field "$service" Depends)" == *libqt6httpserver6* ]] || fail "vyo-service lacks its libraries"
[[ "$("$work/root/usr/bin/vyo-service" --version)" == *"$version"* ]] || fail "vyo-service does not run"

# A user-level install writes only below its prefix.
DESTDIR="$work/user" cmake --install "$build" --prefix /home/someone/.local >/dev/null
outside=$(cd "$work/user" && find . -type f ! -path './home/someone/.local/*')
[ -z "$outside" ] || fail "a user-level install writes outside its prefix: $outside"
for f in bin/vyo bin/vyo-service libexec/vyo/vyo-ocr share/applications/app.vyo.Vyo.desktop \
    share/dbus-1/services/app.vyo.Vyo.service share/icons/hicolor/48x48/apps/app.vyo.Vyo.png; do
    [ -e "$work/user/home/someone/.local/$f" ] || fail "a user-level install lacks $f"
done

[ "$failures" -eq 0 ] || { echo "$failures package checks failed"; exit 1; }
echo "PASS: $(basename "$app") and $(basename "$service")"
