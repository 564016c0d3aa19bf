#!/usr/bin/env bash
# Builds the Debian packages vyo and vyo-service from a build folder (configured and built
# already; `make package` does both) and checks them: the desktop entry with
# desktop-file-validate, the AppStream metadata with appstreamcli, both packages with lintian
# (errors fail, warnings are shown).
#
#   scripts/package.sh [BUILD_DIR [OUTPUT_DIR]]     (default build, BUILD_DIR/packages)
#
# Prints the paths of the two packages last, one a line. Exits 1 when a tool is missing (with the
# command that installs it) or a check fails. Packages built from a work tree with uncommitted
# changes are reported as such.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(realpath "${1:-$root/build}")
out=$(realpath -m "${2:-$build/packages}")

missing=()
need() { command -v "$1" >/dev/null 2>&1 || missing+=("$1 (Debian package $2)"); }
need cpack cmake
need dpkg-deb dpkg
need dpkg-shlibdeps dpkg-dev
need rsvg-convert librsvg2-bin
need desktop-file-validate desktop-file-utils
need appstreamcli appstream
need lintian lintian
if [ ${#missing[@]} -gt 0 ]; then
    echo "package: missing tools:" >&2
    printf '  %s\n' "${missing[@]}" >&2
    echo "Install them with scripts/install-deps.sh (or sudo apt install the packages named)." >&2
    exit 1
fi
[ -f "$build/CPackConfig.cmake" ] ||
    { echo "package: $build is not a configured build folder: run make build first" >&2; exit 1; }
[ -f "$build/icons/256x256/app.vyo.Vyo.png" ] ||
    { echo "package: the rendered icons are missing: build again (cmake --build $build)" >&2; exit 1; }

if git -C "$root" rev-parse --git-dir >/dev/null 2>&1; then
    dirty=$(git -C "$root" status --porcelain --untracked-files=no)
    if [ -n "$dirty" ]; then
        echo "package: WARNING: the work tree has uncommitted changes; these packages match no commit:" >&2
        echo "$dirty" | sed 's/^/  /' >&2
    fi
fi

mkdir -p "$out"
rm -f "$out"/*.deb
log="$out/cpack.log"
if ! cpack --config "$build/CPackConfig.cmake" -B "$out" >"$log" 2>&1; then
    cat "$log" >&2
    echo "package: cpack failed" >&2
    exit 1
fi
rm -rf "$out/_CPack_Packages"
app=$(ls "$out"/vyo_*.deb)
service=$(ls "$out"/vyo-service_*.deb)

failed=0
extracted=$(mktemp -d "${TMPDIR:-/tmp}/vyo-package.XXXXXX")
trap 'rm -rf "$extracted"' EXIT
dpkg-deb -x "$app" "$extracted"
desktop-file-validate "$extracted/usr/share/applications/app.vyo.Vyo.desktop" || failed=1
appstreamcli validate --no-net "$extracted/usr/share/metainfo/app.vyo.Vyo.metainfo.xml" >&2 || failed=1

if ! lintian --fail-on error "$app" "$service" >&2; then
    echo "package: lintian found errors" >&2
    failed=1
fi
[ "$failed" -eq 0 ] || exit 1
echo "$app"
echo "$service"
