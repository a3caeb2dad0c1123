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
# the newest installed patch release of each CPython minor from 3.12 on
# (pyenv first, then PATH).
find_pythons() {
  if [ -n "${PYTHON:-}" ]; then
    echo "$PYTHON"
    return 0
  fi
  local minor found
  for minor in 3.12 3.13 3.14; do
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
# a time, each allowed to fail: where an engine has no wheel (some platforms),
# its tests skip and the rest still run.
install_column_engines() {
  local venv=$1 engine packages
  shift
  for engine in pyarrow polars duckdb pandas "dask[dataframe] distributed" pydantic "fastapi httpx" "$@"; do
    read -ra packages <<<"$engine"  # split on spaces, no globbing of the brackets
    "$venv/bin/python" -m pip install -q --disable-pip-version-check "${packages[@]}" >/dev/null 2>&1 \
      || echo "note: $engine could not be installed for $("$venv/bin/python" -V); its tests skip" >&2
  done
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
