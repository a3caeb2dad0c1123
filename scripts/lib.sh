# Shared by the scripts in this folder: finding interpreters, installing what
# a fresh Debian machine lacks, and the project's virtual environments.
# shellcheck shell=bash

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"

log() { printf '\n==> %s\n' "$*" >&2; }

# Installs Debian packages that are missing (we run as root on our machines;
# elsewhere sudo is tried). Waits for a lock held by another apt run.
ensure_apt() {
  local missing=() arch
  arch=$(dpkg --print-architecture)
  for pkg in "$@"; do
    # The native package first: a name installed for several architectures
    # is ambiguous to dpkg without one.
    dpkg -s "$pkg:$arch" >/dev/null 2>&1 || dpkg -s "$pkg" >/dev/null 2>&1 || missing+=("$pkg")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  local sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  log "installing Debian packages: ${missing[*]}"
  $sudo apt-get -o DPkg::Lock::Timeout=600 update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get -o DPkg::Lock::Timeout=600 install -y -qq "${missing[@]}" >/dev/null
}

# Prints the interpreters to use, one path per line: $PYTHON when set, else
# the newest installed patch release of each CPython minor from 3.12 to 3.15
# (pyenv first, then PATH). sid_minors names those that come from the Debian
# development suite's root instead.
find_pythons() {
  if [ -n "${PYTHON:-}" ]; then
    echo "$PYTHON"
    return 0
  fi
  local minor found
  for minor in 3.12 3.13 3.14 3.15; do
    found=""
    if command -v pyenv >/dev/null 2>&1; then
      local version
      version=$(pyenv versions --bare 2>/dev/null | grep -E "^${minor//./\\.}\.[0-9]+$" | sort -V | tail -n 1)
      if [ -n "$version" ] && [ -x "$(pyenv root)/versions/$version/bin/python$minor" ]; then
        found="$(pyenv root)/versions/$version/bin/python$minor"
      fi
    fi
    [ -z "$found" ] && found=$(command -v "python$minor" 2>/dev/null || true)
    [ -n "$found" ] && echo "$found"
  done
  return 0
}

# The first interpreter of find_pythons, or an error.
first_python() {
  local python
  python=$(find_pythons | head -n 1)
  if [ -z "$python" ]; then
    echo "error: no CPython 3.12 or later found (set PYTHON=/path/to/python3.12)" >&2
    return 1
  fi
  echo "$python"
}

# Creates (once) the virtual environment $1 for interpreter $2 and installs
# the pip requirements that follow.
make_venv() {
  local venv=$1 python=$2
  shift 2
  [ -x "$venv/bin/python" ] || "$python" -m venv "$venv"
  [ $# -gt 0 ] && "$venv/bin/python" -m pip install -q --disable-pip-version-check "$@"
  return 0
}

# Installs into virtual environment $1 the engines the column tests run
# against (the package's optional extras), and any further ones given. One at
# a time, each allowed to fail: where an engine has no wheel (some platforms,
# a new interpreter), its tests skip and the rest still run; returns 1 when
# one is missing. With --sid first, $1 is an environment of the sid root, and
# wheels alone are taken (no engine is built from source there).
install_column_engines() {
  local run=() binary=() missing=0 engine packages venv
  if [ "$1" = --sid ]; then
    run=(in_sid)
    binary=(--only-binary=:all:)
    shift
  fi
  venv=$1
  shift
  for engine in pyarrow polars duckdb pandas "dask[dataframe] distributed" pydantic "fastapi httpx" "$@"; do
    read -ra packages <<<"$engine"  # split on spaces, no globbing of the brackets
    if ! "${run[@]}" "$venv/bin/python" -m pip install -q --disable-pip-version-check "${binary[@]}" "${packages[@]}" >/dev/null 2>&1; then
      echo "note: $engine could not be installed for $("${run[@]}" "$venv/bin/python" -V); its tests skip" >&2
      missing=1
    fi
  done
  return "$missing"
}

# Runs the kernel's CTest suite in build folder $1 once on every parse path
# this processor has (VELTRANE_PARSE_PATH selects it), the paths as the
# suite's veltrane_parse_paths program lists them; the arguments after $1
# (an emulator, say) run that program. A failing run prints its whole output.
ctest_every_parse_path() {
  local dir=$1 paths path output
  shift
  paths=$("$@" "$dir/kernel/tests/veltrane_parse_paths")
  for path in $paths; do
    output=$(VELTRANE_PARSE_PATH=$path ctest --test-dir "$dir" --output-on-failure -j "$(nproc)" 2>&1) \
      || { echo "$output"; echo "kernel tests failed on the $path parse path" >&2; return 1; }
    echo "$path parse path: $(echo "$output" | grep -E 'tests passed')"
  done
}

python_minor() { "$1" -c 'import sys; print(f"{sys.version_info[0]}.{sys.version_info[1]}")'; }

# Puts cmake (3.26 or later, newer than Debian's) and ninja from a tools
# virtual environment on PATH, with any extra pip requirements given.
use_build_tools() {
  local python
  python=$(first_python) || return 1
  make_venv "$ROOT/build/venv-tools" "$python" cmake ninja "$@"
  export PATH="$ROOT/build/venv-tools/bin:$PATH"
}

# Configures and builds, in $2, both extension modules (the module and the
# test-only module) for interpreter $1, with any further cmake arguments.
build_modules() {
  local python=$1 dir=$2
  shift 2
  cmake -S "$ROOT" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPython_EXECUTABLE="$python" \
    -DVELTRANE_BUILD_BINDINGS=ON -DVELTRANE_BUILD_TEST_MODULE=ON "$@" >/dev/null
  nice cmake --build "$dir" -j "$(nproc)"
}

# Cross-builds, in $1, both extension modules and the test-only module for
# 64-bit Arm (Release, as the wheel is built), against the first
# interpreter's headers: the 3.12 stable ABI is the same on every 64-bit Linux.
# Needs crossbuild-essential-arm64 and use_build_tools.
build_modules_arm64() {
  local dir=$1 python include
  python=$(first_python) || return 1
  include=$("$python" -c 'import sysconfig; print(sysconfig.get_paths()["include"])')
  build_modules "$python" "$dir" -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/aarch64-linux-gnu.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DPython_INCLUDE_DIR="$include"
}

# --- CPython 3.14 and 3.15 from Debian's development suite -------------------
# A root made once by debootstrap (minbase with python3.14, python3.15, their
# -venv and -dev packages, amd64) and entered with chroot; kept in build/sid
# between runs (delete build/sid/root to fetch it again).
SID_ROOT="$ROOT/build/sid/root"
SID_MINORS="3.14 3.15"

# The minors of SID_MINORS that find_pythons does not find on this machine,
# one a line: those are tested in the sid root. None when PYTHON is set (the
# one interpreter given is tested).
sid_minors() {
  [ -n "${PYTHON:-}" ] && return 0
  local have minor
  have=$(find_pythons | while read -r python; do python_minor "$python"; done)
  for minor in $SID_MINORS; do
    grep -qx "$minor" <<<"$have" || echo "$minor"
  done
  return 0
}

# Makes the sid root when it is missing.
ensure_sid_root() {
  local minor ready=1 packages="" dir
  for minor in $SID_MINORS; do
    [ -x "$SID_ROOT/usr/bin/python$minor" ] && [ -f "$SID_ROOT/usr/include/python$minor/Python.h" ] || ready=0
    packages+="${packages:+,}python$minor,python$minor-venv,python$minor-dev"
  done
  [ "$ready" = 1 ] && return 0
  ensure_apt debootstrap
  dir=$(dirname "$SID_ROOT")
  log "fetching Debian sid (amd64, minbase) with $packages into $SID_ROOT"
  mkdir -p "$dir"
  rm -rf "$SID_ROOT.partial"
  debootstrap --variant=minbase --include="$packages" sid "$SID_ROOT.partial" >"$dir/debootstrap.log" 2>&1 \
    || { tail -n 20 "$dir/debootstrap.log" >&2; return 1; }
  rm -rf "$SID_ROOT"
  mv "$SID_ROOT.partial" "$SID_ROOT"
}

# Runs a command inside the sid root, in a mount namespace of its own (its
# mounts go with it, however it ends): the repository at its own path, so
# that every path under it means the same inside, /proc, the host's /dev (the
# pseudo-terminals, /dev/shm), the host's name server and certificate
# authorities (pip may reach its index through a proxy). It starts in the
# current folder when that is in the repository, else in /. The environment
# passes through, but for PATH, PYTHONPATH and PYTHONHOME.
in_sid() {
  local cwd=/
  case "$PWD/" in "$ROOT"/*) cwd=$PWD ;; esac
  cp /etc/resolv.conf "$SID_ROOT/etc/resolv.conf"
  mkdir -p "$SID_ROOT$ROOT" "$SID_ROOT/etc/ssl/certs"
  env -u PYTHONPATH -u PYTHONHOME PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
    unshare --mount --propagation private -- sh -c '
      root=$1 repo=$2 cwd=$3
      shift 3
      mount --bind "$repo" "$root$repo" && mount -t proc proc "$root/proc" && mount --rbind /dev "$root/dev" \
        && { [ ! -d /etc/ssl/certs ] || mount --bind /etc/ssl/certs "$root/etc/ssl/certs"; } \
        && exec chroot "$root" /bin/sh -c "cd \"\$0\" && exec \"\$@\"" "$cwd" "$@"' sh "$SID_ROOT" "$ROOT" "$cwd" "$@"
}

# Creates (once) the virtual environment $1 with the sid root's python$2 and
# installs the pip requirements that follow; $1 is a folder of the
# repository, the same path inside the root and out.
make_sid_venv() {
  local venv=$1 minor=$2
  shift 2
  [ -x "$venv/bin/python" ] || in_sid "python$minor" -m venv "$venv"
  [ $# -gt 0 ] && in_sid "$venv/bin/python" -m pip install -q --disable-pip-version-check "$@"
  return 0
}

# Writes $2, a command of this machine that runs the sid root's python$1 with
# the root's own C library (the host's is older). Its prefix is the root's
# /usr: CMake finds $1's headers and stable ABI through it.
write_sid_python() {
  local minor=$1 wrapper=$2
  mkdir -p "$(dirname "$wrapper")"
  cat >"$wrapper" <<EOF
#!/bin/sh
# CPython $minor of build/sid/root on this machine, with the root's C library.
exec "$SID_ROOT/lib64/ld-linux-x86-64.so.2" --library-path "$SID_ROOT/usr/lib/x86_64-linux-gnu" \\
  "$SID_ROOT/usr/bin/python$minor" "\$@"
EOF
  chmod +x "$wrapper"
}

# --- wheels ---------------------------------------------------------------------
# Each built with scikit-build-core through `python -m build` (use_build_tools
# with build, wheel and auditwheel) from SOURCE, the source tree or an sdist;
# the wheel as built and the build's log go to folder WORK, the wheel tagged
# manylinux to folder DIST, and its path is printed. Further arguments are
# config settings, e.g. -C build-dir=DIR to keep the CMake build between runs.

# Gives the wheel $1 the manylinux tag auditwheel finds it consistent with (it
# grafts nothing: the modules need nothing outside the manylinux policy),
# written into folder $2; prints its path.
manylinux_wheel() {
  local wheel=$1 dist=$2 repaired
  repaired=$(dirname "$wheel")/manylinux
  rm -rf "$repaired"
  auditwheel repair --wheel-dir "$repaired" "$wheel" >"$repaired.log" 2>&1 \
    || { cat "$repaired.log" >&2; return 1; }
  mkdir -p "$dist"
  wheel=$(ls "$repaired"/*.whl)
  mv "$wheel" "$dist/"
  echo "$dist/$(basename "$wheel")"
}

# build_wheel_arm64 SOURCE WORK DIST [CONFIG_SETTINGS...]
# The cp312-abi3 wheel for 64-bit Arm, cross-compiled with the project's
# toolchain file against the first interpreter's headers (the 3.12 stable ABI
# is the same on every 64-bit Linux); scikit-build-core takes the platform tag
# from _PYTHON_HOST_PLATFORM. Needs crossbuild-essential-arm64.
build_wheel_arm64() {
  local source=$1 work=$2 dist=$3
  shift 3
  rm -rf "$work"
  mkdir -p "$work"
  _PYTHON_HOST_PLATFORM=linux-aarch64 nice python -m build --wheel --outdir "$work" \
    -C cmake.define.CMAKE_TOOLCHAIN_FILE="$ROOT/cmake/aarch64-linux-gnu.cmake" "$@" "$source" \
    >"$work/build.log" 2>&1 || { tail -n 40 "$work/build.log" >&2; return 1; }
  manylinux_wheel "$(ls "$work"/*.whl)" "$dist"
}

# The headers the abi3t build compiles against, in folder $1: the sid root's
# CPython 3.15 headers with the x86-64 pyconfig.h in place of Debian's
# multiarch one (which looks for its own in the system's include folder; the
# stable ABI is the same on every 64-bit Linux, as for the arm64 build).
stage_abi3t_headers() {
  local dir=$1
  rm -rf "$dir"
  mkdir -p "$dir"
  cp -r "$SID_ROOT/usr/include/python3.15" "$dir/"
  cp "$SID_ROOT/usr/include/x86_64-linux-gnu/python3.15/pyconfig.h" "$dir/python3.15/pyconfig.h"
}

# build_wheel_abi3t SOURCE WORK DIST ARCH [CONFIG_SETTINGS...]
# The abi3t wheel for ARCH (x86_64 or aarch64): the CMake option
# VELTRANE_ABI3T compiles every module for the stable ABI of 3.15 and of its
# free-threaded build at once (Py_LIMITED_API and Py_TARGET_ABI3T 0x030f0000)
# as *.abi3t.so, against the sid root's 3.15 headers, found through that
# root's interpreter; the wheel is tagged cp315-abi3.abi3t (PEP 803: the
# ordinary and the free-threaded 3.15 and later both install it). Returns 1
# when the build fails (the log: WORK/build.log).
build_wheel_abi3t() {
  local source=$1 work=$2 dist=$3 arch=$4 settings=() host_platform=()
  shift 4
  rm -rf "$work"
  mkdir -p "$work"
  ensure_sid_root
  write_sid_python 3.15 "$work/python3.15"
  stage_abi3t_headers "$work/include"
  settings=(-C cmake.python-hints=false -C cmake.define.VELTRANE_ABI3T=ON
            -C cmake.define.Python_EXECUTABLE="$work/python3.15"
            -C cmake.define.Python_INCLUDE_DIR="$work/include/python3.15")
  if [ "$arch" = aarch64 ]; then
    settings+=(-C cmake.define.CMAKE_TOOLCHAIN_FILE="$ROOT/cmake/aarch64-linux-gnu.cmake")
    host_platform=(_PYTHON_HOST_PLATFORM=linux-aarch64)
  fi
  env "${host_platform[@]}" nice python -m build --wheel --outdir "$work" "${settings[@]}" "$@" "$source" \
    >"$work/build.log" 2>&1 || return 1
  # scikit-build-core, run by a 3.12 frontend, tags it cp312-abi3.
  python -m wheel tags --remove --python-tag cp315 --abi-tag abi3.abi3t "$(ls "$work"/*.whl)" >/dev/null
  manylinux_wheel "$(ls "$work"/*.whl)" "$dist"
}

# The cp312-abi3 wheel for 64-bit Arm from the source tree, as the tests
# install it, built into folder $1 (its path printed): the CMake build is kept
# in build/cross-arm64/wheel-build between runs, and makes the test-only
# modules there too.
build_arm64_test_wheel() {
  build_wheel_arm64 "$ROOT" "$ROOT/build/cross-arm64/wheel" "$1" \
    -C build-dir="$ROOT/build/cross-arm64/wheel-build" -C cmake.define.VELTRANE_BUILD_TEST_MODULE=ON
}
