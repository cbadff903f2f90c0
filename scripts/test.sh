#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Sets everything up on a fresh Debian machine, builds and runs every test:
#   1. the test suite (unit, widget, end-to-end over pseudo-terminals, soak,
#      fuzz regressions, install) in a build with warnings as errors, under an
#      empty home folder that must stay empty;
#   2. the Debian packages made from that build, checked by lintian,
#      installed with apt-get, tried and removed again (this replaces an
#      installed veltrak or veltrak-logger on this machine);
#   3. the same suite under AddressSanitizer + UndefinedBehaviorSanitizer;
#   4. each libFuzzer target for FUZZ_SECONDS (default 20);
#   5. clang-format and clang-tidy.
# With --quick only step 1 runs.
set -euo pipefail
cd "$(dirname "$0")/.."
quick=0
[ "${1:-}" = "--quick" ] && quick=1
stage() { echo; echo "=== $* ($(date +%T))"; }
passed=0
# Runs ctest in the given build directory and adds up the tests that passed.
suite() {
    local dir="$1"; shift
    local log; log="$(mktemp)"
    (cd "$dir" && ctest -j2 --output-on-failure --timeout 600 "$@") | tee "$log"
    local n; n="$(sed -n 's/.*tests passed, 0 tests failed out of \([0-9]*\).*/\1/p' "$log")"
    rm -f "$log"
    passed=$((passed + ${n:-0}))
}

sudo=""
if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
# Installs the packages built in build/packages for real (dependencies from
# the archive), runs what they installed and removes them again.
packages_check() {
    local tmp
    tmp="$(mktemp -d)"
    sim_pid=""
    # A failing check ends the script: the simulator must not outlive it.
    trap 'if [ -n "$sim_pid" ]; then kill "$sim_pid" 2>/dev/null || true; fi' EXIT
    export DEBIAN_FRONTEND=noninteractive

    echo "== veltrak-logger"
    $sudo apt-get install -y -q ./build/packages/veltrak-logger_*.deb
    /usr/bin/veltrak-logger --version
    # A small computer on site has no window system: none of it may be linked.
    if ldd /usr/bin/veltrak-logger | grep -E 'libQt6(Gui|Widgets|Charts|OpenGL)|libX[a-z0-9]*\.so|libGL|libEGL|libxcb'; then
        echo "the logger links window-system libraries" >&2
        return 1
    fi
    if dpkg-query -W -f='${Depends}' veltrak-logger | grep -E 'libqt6(gui|widgets|charts|opengl)|libx|libgl|libegl'; then
        echo "the logger package depends on window-system libraries" >&2
        return 1
    fi
    build/veltrak-sim --link "$tmp/tty" >/dev/null &
    sim_pid=$!
    for _ in $(seq 50); do [ -e "$tmp/tty" ] && break; sleep 0.1; done
    /usr/bin/veltrak-logger --device "$tmp/tty" --interval 100 --duration 2 --csv "$tmp/out.csv"
    local rows
    rows=$(($(wc -l <"$tmp/out.csv") - 1))
    echo "installed logger: $rows rows in 2 s"
    if [ "$rows" -lt 5 ]; then echo "too few rows from the installed logger" >&2; return 1; fi
    # The example settings as a service would use them: csv-dir=. lands in
    # the working folder.
    mkdir "$tmp/work"
    (cd "$tmp/work" && /usr/bin/veltrak-logger --config /usr/share/veltrak/logger.ini.example \
        --device "$tmp/tty" --interval 100 --duration 1)
    ls "$tmp/work"/????-??-??.csv
    kill "$sim_pid"
    wait "$sim_pid" 2>/dev/null || true
    sim_pid=""
    trap - EXIT
    test -f /usr/share/man/man1/veltrak-logger.1.gz
    if command -v systemd-analyze >/dev/null; then
        # As an administrator would enable it: by a stable device name.
        local instance out
        instance="$(systemd-escape --path /dev/serial/by-id/usb-SIM_0-if00-port0)"
        ln -s /usr/lib/systemd/system/veltrak-logger@.service "$tmp/veltrak-logger@$instance.service"
        out="$(systemd-analyze verify "$tmp/veltrak-logger@$instance.service" 2>&1)"
        if [ -n "$out" ]; then
            echo "systemd-analyze verify: $out" >&2
            return 1
        fi
        echo "systemd-analyze verify: clean"
    fi
    $sudo apt-get remove -y -q veltrak-logger
    $sudo dpkg --purge veltrak-logger
    if test -e /usr/bin/veltrak-logger; then echo "veltrak-logger left behind" >&2; return 1; fi

    echo "== veltrak"
    $sudo apt-get install -y -q ./build/packages/veltrak_*.deb
    QT_QPA_PLATFORM=offscreen /usr/bin/veltrak --version
    /usr/bin/veltrak-sim --help >/dev/null
    test -f /usr/share/man/man1/veltrak.1.gz
    test -f /usr/share/applications/veltrak.desktop
    $sudo apt-get remove -y -q veltrak
    if test -e /usr/bin/veltrak; then echo "veltrak left behind" >&2; return 1; fi
    rm -rf "$tmp"
}

stage "setup"
scripts/setup.sh xvfb xauth

stage "build"
scripts/build.sh

stage "test suite"
# Under a fresh, empty home: a test that writes into the user's home
# (settings, data, caches) fails the run.
fresh_home="$(mktemp -d /tmp/veltrak-home.XXXXXX)"
unset XDG_CONFIG_HOME XDG_DATA_HOME XDG_CACHE_HOME XDG_STATE_HOME
HOME="$fresh_home" QT_QPA_PLATFORM=offscreen suite build
written="$(cd "$fresh_home" && find . -mindepth 1)"
rm -rf "$fresh_home"
if [ -n "$written" ]; then
    echo "the tests wrote into the home folder:" >&2
    echo "$written" >&2
    exit 1
fi
if [ "$quick" = 1 ]; then echo "tests: $passed passed, 0 failed"; exit 0; fi

stage "Debian packages: build, lintian, install, try, remove"
scripts/package.sh build
packages_check
passed=$((passed + 2))

stage "test suite under AddressSanitizer + UndefinedBehaviorSanitizer"
cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DVELTRAK_WERROR=ON \
    -DCMAKE_CXX_FLAGS="-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined" \
    -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=address,undefined" >/dev/null
cmake --build build-asan -j2
QT_QPA_PLATFORM=offscreen VELTRAK_SOAK_SECONDS=10 UBSAN_OPTIONS=print_stacktrace=1 suite build-asan -E install_check

stage "fuzzing"
scripts/fuzz.sh "${FUZZ_SECONDS:-20}"
passed=$((passed + 4))

stage "lint"
scripts/lint.sh
passed=$((passed + 1))

stage "done"
echo "tests: $passed passed, 0 failed"
