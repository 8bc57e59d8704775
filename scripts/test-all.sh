#!/usr/bin/env bash
# Installs what the build and the tests need when it is missing, then builds
# and runs every test in the default and in the sanitizer configuration.
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(cmake g++ clang libclang-rt-14-dev libcrypt-dev libgtest-dev libbenchmark-dev
          libssl-dev openssl python3 python3-pyte util-linux mount pkg-config
          libpam0g-dev nlohmann-json3-dev pamtester whois bash bash-completion
          groff-base dpkg-dev file binutils ansible-core openssh-server openssh-client
          slapd ldap-utils sssd-ldap libnss-sss libpam-sss)
missing=()
for p in "${packages[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "installing: ${missing[*]}"
  apt-get update -q
  DEBIAN_FRONTEND=noninteractive apt-get install -y -q "${missing[@]}"
  # The directory tests start their own slapd and SSSD in a namespace; a
  # service that a package started on the host is stopped again.
  for service in slapd sssd; do
    if [[ -x /etc/init.d/$service ]] && /etc/init.d/$service status >/dev/null 2>&1; then
      /etc/init.d/$service stop
    fi
  done
fi

jobs=$(nproc)
for preset in default sanitize; do
  echo "=== $preset ==="
  cmake --preset "$preset"
  cmake --build --preset "$preset" -j"$jobs"
  ctest --preset "$preset" -j"$jobs"
done

# Fuzz targets (libFuzzer, AddressSanitizer, UndefinedBehaviorSanitizer):
# every target for FUZZ_SECONDS (20) seconds from its seed corpus; a crash
# fails the run.  fuzz/run.sh build-fuzz 600 runs them longer.
echo "=== fuzz ==="
CC=clang CXX=clang++ cmake -S fuzz -B build-fuzz
cmake --build build-fuzz -j"$jobs"
fuzz/run.sh build-fuzz "${FUZZ_SECONDS:-20}"
