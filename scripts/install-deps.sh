#!/usr/bin/env bash
# Installs the Debian packages the build needs, only those that are missing.
# Runs "apt-get update" at most once, and only when something is missing.
set -euo pipefail

# libsystemd-dev: sd-bus for the login manager (restart, shutdown inhibitor).
# dbus and python3-dbusmock: only for the tests, which start a private bus
# with a stand-in login manager.
# nlohmann-json3-dev: the JSON output of the front ends (header only).
# python3-jsonschema: only for the tests, which check that output against its
# schema.
packages=(cmake make g++ pkg-config libxml2-dev zlib1g-dev libarchive-dev libssl-dev openssl libgtest-dev
  libsystemd-dev dbus python3-dbusmock nlohmann-json3-dev python3-jsonschema
  # the playbook tests
  ansible-core
  # the fault sweep (xmllint; prlimit and setsid come with util-linux)
  libxml2-utils util-linux
  # a compiler cache: a test run on this machine compiles only what changed
  ccache
  # the structure checks: layers and loops, log-record names, formatting
  python3 universal-ctags clang-format
  # the fuzzers: clang with libFuzzer and the sanitizer runtimes
  clang libclang-rt-14-dev
  # manual pages, the Debian package and its checks
  scdoc dpkg-dev file lintian man-db bash-completion
  # the real-boot test: a Debian root file system booted with systemd-nspawn
  systemd-container mmdebstrap)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if ((${#missing[@]} == 0)); then
  exit 0
fi

echo "Installing missing packages: ${missing[*]}"
SUDO=""
if [[ $(id -u) -ne 0 ]]; then
  SUDO="sudo"
fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq "${missing[@]}"
