#!/bin/bash
# Builds the Debian package from a configured and built tree, unpacks it into
# a temporary root with dpkg -x, and checks what a user would get: the exact
# file list, the control fields, binaries that resolve their libraries and
# run, a valid desktop entry and AppStream metainfo, icons of the sizes their
# folders claim, and manual pages that render cleanly and match the tool's
# own --help.
#
# Usage: check_package.sh BUILD_DIR SOURCE_DIR CPACK APP_ID VERSION
set -euo pipefail

build=$1 source=$2 cpack=$3 app_id=$4 version=$5

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}

# --- Build the package --------------------------------------------------------
if ! "$cpack" --config "$build/CPackConfig.cmake" -G DEB -B "$work/out" >"$work/cpack.log" 2>&1; then
    cat "$work/cpack.log" >&2
    echo "FAIL: cpack did not build the package" >&2
    exit 1
fi
arch=$(dpkg --print-architecture)
deb=$work/out/ronvix_${version}_${arch}.deb
if [[ ! -f $deb ]]; then
    echo "FAIL: expected $deb; cpack made:" >&2
    ls "$work/out" >&2
    exit 1
fi

# --- Control fields -------------------------------------------------------------
field() { dpkg-deb -f "$deb" "$1"; }
[[ $(field Package) == ronvix ]] || fail "Package is '$(field Package)'"
[[ $(field Version) == "$version" ]] || fail "Version is '$(field Version)', not $version"
[[ $(field Section) == video ]] || fail "Section is '$(field Section)', not video"
[[ $(field Architecture) == "$arch" ]] || fail "Architecture is '$(field Architecture)'"
[[ $(field Maintainer) =~ ^.+\ \<.+@.+\>$ ]] || fail "Maintainer '$(field Maintainer)' is not 'Name <address>'"
[[ -n $(field Description) ]] || fail "no Description"
depends=$(field Depends)
# Libraries the binaries link come from dpkg-shlibdeps, with versions; the
# fonts the layout is measured for are named by hand.
dep_names=" "
IFS=',' read -ra deps <<<"$depends"
for d in "${deps[@]}"; do
    d=${d# }
    dep_names+="${d%% *} "
done
# A name without its soname version (libavformat) matches any version.
for dep in libc6 libstdc++6 libqt6core6 libqt6gui6 libqt6widgets6 libavformat libavcodec \
    libturbojpeg0 libasound2 libudev1 fonts-liberation; do
    [[ $dep_names == *" $dep"* ]] || fail "Depends lacks $dep: $depends"
done
[[ $depends =~ libqt6widgets6\ \(\>= ]] || fail "Depends has no library versions (shlibdeps did not run): $depends"

# --- Unpack and compare the file list -------------------------------------------
root=$work/root
dpkg -x "$deb" "$root"
sizes=(16 22 24 32 48 64 128 256)
expected=(
    usr/bin/ronvix
    usr/share/applications/$app_id.desktop
    usr/share/icons/hicolor/scalable/apps/$app_id.svg
    usr/share/metainfo/$app_id.metainfo.xml
    usr/share/man/man1/ronvix.1.gz
    usr/share/man/man1/ronvix-capture.1.gz
)
for n in "${sizes[@]}"; do
    expected+=("usr/share/icons/hicolor/${n}x${n}/apps/$app_id.png")
done
has_capture=0
if [[ -x $build/ronvix-capture ]]; then
    has_capture=1
    expected+=(usr/bin/ronvix-capture)
fi
diff <(printf '%s\n' "${expected[@]}" | sort) <(cd "$root" && find . -type f -printf '%P\n' | sort) \
    >"$work/files.diff" || {
    fail "the package's files differ from the expected list (< expected, > packaged):"
    cat "$work/files.diff" >&2
}
for f in "$root"/usr/bin/*; do
    [[ $(stat -c %a "$f") == 755 ]] || fail "$f has mode $(stat -c %a "$f"), not 755"
done
while IFS= read -r f; do
    [[ $(stat -c %a "$f") == 644 ]] || fail "$f has mode $(stat -c %a "$f"), not 644"
done < <(find "$root/usr/share" -type f)

# --- Binaries: libraries, no build-tree paths, they run ---------------------------
for f in "$root"/usr/bin/*; do
    if ldd "$f" | grep -q 'not found'; then
        fail "$(basename "$f") has unresolved libraries:"
        ldd "$f" | grep 'not found' >&2
    fi
    if readelf -d "$f" | grep -Eq 'R(UN)?PATH'; then
        fail "$(basename "$f") carries a run path: $(readelf -d "$f" | grep -E 'R(UN)?PATH')"
    fi
    if readelf -S "$f" | grep -q '\.debug_info'; then
        fail "$(basename "$f") is not stripped"
    fi
done

export HOME=$work/home XDG_CONFIG_HOME=$work/home/config RONVIX_DRIVE_C=$work/home/c \
    RONVIX_TAPE_DIR=$work/home/tape XDG_RUNTIME_DIR=$work/home/run
mkdir -p "$HOME" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"
unset DISPLAY WAYLAND_DISPLAY
"$root/usr/bin/ronvix" --version >"$work/app-version.txt" || fail "ronvix --version failed"
grep -qxF "ronvix $version" "$work/app-version.txt" ||
    fail "ronvix --version prints '$(cat "$work/app-version.txt")', not 'ronvix $version'"
# Started offscreen with its usual command line the program must still be
# running (timeout's 124) after a few seconds of start-up.
set +e
QT_QPA_PLATFORM=offscreen timeout 4 "$root/usr/bin/ronvix" -nosplash >"$work/ronvix.log" 2>&1
rc=$?
set -e
if [[ $rc -ne 124 ]]; then
    fail "the packaged ronvix ended with status $rc within 4 s of starting:"
    cat "$work/ronvix.log" >&2
fi

if [[ $has_capture -eq 1 ]]; then
    tool=$root/usr/bin/ronvix-capture
    "$tool" --help >"$work/help.txt" || fail "ronvix-capture --help failed"
    grep -q -- '--list' "$work/help.txt" || fail "ronvix-capture --help does not describe --list"
    "$tool" --version >"$work/version.txt" || fail "ronvix-capture --version failed"
    grep -qF "$version" "$work/version.txt" || fail "ronvix-capture --version does not print $version: $(cat "$work/version.txt")"
    "$tool" --list >"$work/list.txt" || fail "ronvix-capture --list failed"
    for dev in "Test Pattern Camera" "Test Tone Generator" "Virtual Tape Deck" "Silent Audio Output"; do
        grep -qF "$dev" "$work/list.txt" || fail "ronvix-capture --list does not show $dev"
    done
fi

# --- Desktop entry and metainfo ----------------------------------------------------
desktop=$root/usr/share/applications/$app_id.desktop
metainfo=$root/usr/share/metainfo/$app_id.metainfo.xml
# A missing file is already reported by the file list.
if [[ -f $desktop ]]; then
    # Hints count too: the entry is kept free of every remark.
    out=$(desktop-file-validate "$desktop" 2>&1) && [[ -z $out ]] || fail "desktop-file-validate: $out"
    # Menus file the entry under its main category; Recorder says what it does.
    categories=$(sed -n 's/^Categories=//p' "$desktop")
    [[ $categories == *"AudioVideo;"* && $categories == *"Recorder;"* ]] ||
        fail "the desktop entry's Categories '$categories' lack AudioVideo or Recorder"
    exec_bin=$(sed -n 's/^Exec=\([^ ]*\).*/\1/p' "$desktop")
    [[ -x $root/usr/bin/$exec_bin ]] || fail "the desktop entry runs '$exec_bin', which the package does not install"
    [[ $(sed -n 's/^Icon=//p' "$desktop") == "$app_id" ]] || fail "the desktop entry's Icon is not $app_id"
fi
if [[ -f $metainfo ]]; then
    appstreamcli validate --no-net "$metainfo" >"$work/as.txt" 2>&1 || {
        fail "appstreamcli validate:"
        cat "$work/as.txt" >&2
    }
    # The tree check also finds the desktop entry the metainfo launches.
    appstreamcli validate-tree --no-net "$root" >"$work/astree.txt" 2>&1 || {
        fail "appstreamcli validate-tree:"
        cat "$work/astree.txt" >&2
    }
    grep -q "<release version=\"$version\"" "$metainfo" ||
        fail "the metainfo has no release entry for version $version"
    if [[ $has_capture -eq 1 ]]; then
        grep -q '<binary>ronvix-capture</binary>' "$metainfo" || fail "the metainfo does not list ronvix-capture"
    fi
fi

# --- Icons ---------------------------------------------------------------------------
cmp -s "$source/data/$app_id.svg" "$root/usr/share/icons/hicolor/scalable/apps/$app_id.svg" ||
    fail "the installed SVG icon differs from data/$app_id.svg"
png_size() {  # the width and height in a PNG's header, "WxH"
    local hex
    hex=$(od -An -tx1 -j12 -N12 "$1" | tr -d ' \n')
    [[ ${hex:0:8} == 49484452 ]] || { echo "not-png"; return; }
    echo "$((16#${hex:8:8}))x$((16#${hex:16:8}))"
}
for n in "${sizes[@]}"; do
    png=$root/usr/share/icons/hicolor/${n}x${n}/apps/$app_id.png
    [[ -f $png ]] || continue  # already reported by the file list
    got=$(png_size "$png")
    [[ $got == "${n}x${n}" ]] || fail "$png is $got, not ${n}x${n}"
done

# --- Manual pages ----------------------------------------------------------------------
for page in ronvix ronvix-capture; do
    gz=$root/usr/share/man/man1/$page.1.gz
    [[ -f $gz ]] || continue
    gzip -t "$gz" || { fail "$page.1.gz is not a valid gzip file"; continue; }
    zcat "$gz" >"$work/$page.1"
    warnings=$(LC_ALL=C.UTF-8 groff -man -Tutf8 -ww -z "$work/$page.1" 2>&1) || true
    [[ -z $warnings ]] || fail "$page.1 renders with warnings: $warnings"
    grep -q "^\.TH .*\"Ronvix $version\"" "$work/$page.1" || fail "$page.1 does not carry version $version"
    for word in RONVIX_DRIVE_C RONVIX_TAPE_DIR XDG_CONFIG_HOME; do
        grep -q "$word" "$work/$page.1" || fail "$page.1 does not mention $word"
    done
    for section in SYNOPSIS DESCRIPTION ENVIRONMENT FILES EXAMPLES; do
        grep -q "^\.SH $section" "$work/$page.1" || fail "$page.1 has no $section section"
    done
done
# The tool's page and its --help name the same long options.
if [[ $has_capture -eq 1 && -f $work/ronvix-capture.1 ]]; then
    grep -o -- '--[a-z][a-z-]*' "$work/help.txt" | sort -u >"$work/opts.help"
    sed 's/\\-/-/g' "$work/ronvix-capture.1" | grep -o -- '--[a-z][a-z-]*' | sort -u >"$work/opts.man"
    diff "$work/opts.help" "$work/opts.man" >"$work/opts.diff" || {
        fail "ronvix-capture --help and its manual page name different options (< help, > page):"
        cat "$work/opts.diff" >&2
    }
fi

if [[ $failures -ne 0 ]]; then
    echo "$failures check(s) failed" >&2
    exit 1
fi
echo "package $(basename "$deb") checked"
