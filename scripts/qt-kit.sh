# Qt for Windows (the "kit"): Debian's own qt6-base source, the version the
# Linux build uses, cross-compiled with mingw-w64 for x86_64 and installed
# once per machine outside the checkout. Sourced by scripts/windows, which
# builds it, and scripts/test, which only looks for it.
#
# The kit's folder is named after the Qt version and a hash of everything
# that decides its contents (the configure options, the toolchain file, the
# wintab shim), so a changed recipe builds a new kit beside the old.
# A kit is complete only once its stamp file exists, written after the
# install: an interrupted build never leaves a kit that looks complete, and the
# next run resumes the build where it stopped.

kit_root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"

if [ "$(id -u)" -eq 0 ]; then
    kit_cache=/var/cache/multibuf
else
    kit_cache="${XDG_CACHE_HOME:-$HOME/.cache}/multibuf"
fi

# Debian's own version of the Qt the Linux build compiles against.
kit_qt_version() {
    dpkg-query -W -f='${Version}' qt6-base-dev 2>/dev/null
}

# Only Core, Gui, Widgets, Test, the windows platform plugin and the Vista
# style. The Debian source drops the bundled copies of some libraries, but
# keeps zlib, pcre2, libpng, harfbuzz and double-conversion, which Qt then
# links in. OpenGL needs INPUT_opengl=no as well: FEATURE_opengl alone leaves
# dynamic GL on, which does not compile without it. In 6.4 the DirectWrite
# font database is only built with direct2d, so directwrite3 goes with it.
kit_configure_options=(
    -DBUILD_SHARED_LIBS=ON -DCMAKE_BUILD_TYPE=Release
    -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake
    -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF
    -DFEATURE_pkg_config=OFF
    -DFEATURE_network=OFF -DFEATURE_sql=OFF -DFEATURE_dbus=OFF -DFEATURE_xml=OFF
    -DFEATURE_concurrent=OFF -DFEATURE_printsupport=OFF -DFEATURE_vulkan=OFF
    -DFEATURE_direct2d=OFF -DFEATURE_directwrite3=OFF -DFEATURE_icu=OFF
    -DFEATURE_jpeg=OFF -DFEATURE_freetype=OFF -DFEATURE_zstd=OFF
    -DINPUT_opengl=no -DFEATURE_opengl=OFF
    -DFEATURE_system_zlib=OFF -DFEATURE_system_pcre2=OFF -DFEATURE_system_png=OFF
    -DFEATURE_system_harfbuzz=OFF -DFEATURE_system_doubleconversion=OFF
    -DFEATURE_system_jpeg=OFF -DFEATURE_system_freetype=OFF -DFEATURE_system_libb2=OFF
    -DFEATURE_system_textmarkdownreader=OFF
)

kit_key() {
    {
        kit_qt_version
        printf '%s\n' "${kit_configure_options[@]}"
        cat "$kit_root/cmake/mingw-x86_64.cmake" "$kit_root/cmake/qt-win64/wintab.h"
    } | sha256sum | cut -c1-12
}

# The kit's folder, complete or not.
kit_dir() {
    local version
    version="$(kit_qt_version)"
    printf '%s/qt-%s-win64-%s\n' "$kit_cache" "${version%%+*}" "$(kit_key)"
}

kit_complete() {
    [ -f "$(kit_dir)/multibuf-kit-complete" ]
}

# The toolchain file projects pass to CMake to build against the kit.
kit_toolchain() {
    printf '%s/lib/cmake/Qt6/qt.toolchain.cmake\n' "$(kit_dir)"
}

# Prints a line every 40 of ninja's steps, and the steps that failed, so a
# long build shows it is moving; the whole output goes to the log.
kit_progress() {
    tee "$1" | awk '
        match($0, /^\[[0-9]+\/[0-9]+\]/) {
            split(substr($0, 2, RLENGTH - 2), n, "/")
            if (n[1] % 40 == 0 || n[1] == n[2]) {
                printf "qt-kit: step %d of %d\n", n[1], n[2]
                fflush()
            }
            next
        }
        /^FAILED:/ { print; fflush() }'
}

kit_build() {
    local kit work version src
    kit="$(kit_dir)"
    version="$(kit_qt_version)"
    if [ -z "$version" ]; then
        echo "qt-kit: qt6-base-dev is not installed; its version chooses the Qt source" >&2
        return 1
    fi
    work="$kit.work"
    src="$work/qtbase-$version"
    echo "qt-kit: building Qt $version for 64-bit Windows into $kit"
    echo "qt-kit: the first build takes about 15 to 30 minutes on 2 cores; later runs reuse the kit"
    rm -f "$kit/multibuf-kit-complete"
    mkdir -p "$work" "$kit"

    if [ ! -f "$src/.multibuf-extracted" ]; then
        # A private source list and index folder: the system's apt
        # configuration is never touched.
        local apt_dir="$work/apt"
        rm -rf "$apt_dir" "$src"
        mkdir -p "$apt_dir/lists/partial" "$apt_dir/download"
        local suite uri
        : >"$apt_dir/sources.list"
        for suite in bookworm bookworm-updates bookworm-security; do
            uri=http://deb.debian.org/debian
            [ "$suite" = bookworm-security ] && uri=http://deb.debian.org/debian-security
            printf 'deb-src [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] %s %s main\n' \
                "$uri" "$suite" >>"$apt_dir/sources.list"
        done
        local apt=(apt-get -q -o "Dir::Etc::SourceList=$apt_dir/sources.list"
            -o Dir::Etc::SourceParts=/dev/null -o "Dir::State::Lists=$apt_dir/lists"
            -o APT::Sandbox::User=root)
        # One suite's index may fail to download; the source can still be found.
        "${apt[@]}" update >"$apt_dir/update.log" 2>&1 || true
        echo "qt-kit: downloading Debian's qt6-base $version source (46 MB)"
        (cd "$apt_dir/download" &&
            "${apt[@]}" source --download-only "qt6-base=$version" >"$apt_dir/source.log" 2>&1) ||
            {
                cat "$apt_dir/update.log" "$apt_dir/source.log" >&2
                echo "qt-kit: could not download the qt6-base $version source" >&2
                return 1
            }
        # dpkg-source applies Debian's patches, security fixes among them. The
        # files were checked against the signed index apt downloaded.
        dpkg-source -x "$apt_dir"/download/qt6-base_*.dsc "$src" >"$work/extract.log" 2>&1 || {
            cat "$work/extract.log" >&2
            return 1
        }
        # Debian's +dfsg source drops src/3rdparty/wintab; the windows platform
        # plugin includes it. Wine's copies are LGPL, as Qt is.
        mkdir -p "$src/src/3rdparty/wintab"
        cp /usr/include/wine/wine/windows/wintab.h "$src/src/3rdparty/wintab/wine-wintab.h"
        cp /usr/include/wine/wine/windows/pktdef.h "$src/src/3rdparty/wintab/pktdef.h"
        cp "$kit_root/cmake/qt-win64/wintab.h" "$src/src/3rdparty/wintab/wintab.h"
        rm -rf "$apt_dir/download"
        touch "$src/.multibuf-extracted"
    fi

    # Qt's qt.toolchain.cmake names this file by its absolute path.
    cp "$kit_root/cmake/mingw-x86_64.cmake" "$kit/mingw-x86_64.cmake"
    if [ ! -f "$work/build/build.ninja" ]; then
        echo "qt-kit: configuring (about a minute)"
        cmake -S "$src" -B "$work/build" -G Ninja \
            -DCMAKE_TOOLCHAIN_FILE="$kit/mingw-x86_64.cmake" -DCMAKE_INSTALL_PREFIX="$kit" \
            "${kit_configure_options[@]}" >"$work/configure.log" 2>&1 || {
            tail -n 40 "$work/configure.log" >&2
            rm -f "$work/build/build.ninja"
            echo "qt-kit: configure failed, see $work/configure.log" >&2
            return 1
        }
    fi
    echo "qt-kit: compiling (progress every 40 steps; the full log is $work/build.log)"
    # The pipe's status is ninja's, whatever the caller's shell options.
    ninja -C "$work/build" -j "$(nproc)" 2>&1 | kit_progress "$work/build.log"
    if [ "${PIPESTATUS[0]}" -ne 0 ]; then
        grep -A 12 '^FAILED:' "$work/build.log" | head -n 40 >&2
        echo "qt-kit: the build failed (log: $work/build.log); the next run resumes it" >&2
        return 1
    fi
    # The parts the program ships must be there before the kit counts as built.
    local part
    for part in bin/Qt6Core.dll bin/Qt6Gui.dll bin/Qt6Widgets.dll bin/Qt6Test.dll \
        plugins/platforms/qwindows.dll plugins/platforms/qminimal.dll \
        plugins/styles/qwindowsvistastyle.dll; do
        [ -f "$work/build/$part" ] || {
            echo "qt-kit: the build made no $part" >&2
            return 1
        }
    done
    cmake --install "$work/build" --strip >"$work/install.log" 2>&1 || {
        tail -n 20 "$work/install.log" >&2
        return 1
    }
    printf 'Qt %s from Debian source qt6-base %s, built by scripts/windows\n' "${version%%+*}" \
        "$version" >"$kit/multibuf-kit-complete"
    rm -rf "$work"
    echo "qt-kit: ready in $kit ($(du -sh "$kit" | cut -f1))"
}

# Configures a Windows build of the program against the kit with CMake
# preset $1 (windows, windows-release), whose build folder is $2, and any
# further arguments; scripts/windows and scripts/test share build-win64/.
# The presets find the kit's toolchain file through MULTIBUF_QT_KIT.
kit_configure_program() {
    local preset="$1" build="$2" fresh=()
    shift 2
    MULTIBUF_QT_KIT="$(kit_dir)"
    export MULTIBUF_QT_KIT
    # A build configured against another kit cannot switch toolchains: it
    # starts afresh.
    if [ -f "$build/CMakeCache.txt" ] &&
        ! grep -qxF "CMAKE_TOOLCHAIN_FILE:FILEPATH=$(kit_toolchain)" "$build/CMakeCache.txt"; then
        fresh=(--fresh)
    fi
    cmake -S "$kit_root" --preset "$preset" "${fresh[@]}" "$@" >/dev/null
}
