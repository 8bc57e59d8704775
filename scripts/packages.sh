#!/usr/bin/env bash
# The Debian packages that building credcheck and testing it need, and how to
# get the missing ones:
#
#   scripts/packages.sh build   what building the tool and the libraries needs
#   scripts/packages.sh test    that and what every test needs (scripts/test-all.sh)
#
# Installed packages are left alone.  Missing ones are installed with apt-get,
# as root or through sudo; where neither may install, the one apt-get line
# that would is printed and the status is 1.
set -euo pipefail

# What the build needs besides a C and C++ compiler and CMake: the headers of
# libcrypt, Linux-PAM, MIT Kerberos and nlohmann's JSON library.
build_packages=(cmake make g++ libcrypt-dev libpam0g-dev libkrb5-dev nlohmann-json3-dev)

# What the tests need on top: GoogleTest, OpenSSL and Python for the unit and
# end-to-end tests, and the programs the tests compare with or drive.  Add a
# test's package here, one name per word.
test_packages=(clang libclang-rt-14-dev libgtest-dev libbenchmark-dev libssl-dev openssl
               python3 python3-pyte util-linux mount pkg-config pamtester whois bash strace
               bash-completion groff-base dpkg-dev file binutils lintian ansible-core sudo git
               slapd ldap-utils sssd-ldap libnss-sss libpam-sss openssh-server openssh-client
               prometheus-node-exporter prometheus systemd krb5-kdc krb5-admin-server krb5-user
               libpam-krb5 faketime sssd-krb5 sssd-tools sssd-dbus dbus-daemon ldb-tools)

# Services that the packages above may start on installing, each as
# "service:package that brings it".  The directory tests start their own slapd
# and SSSD in a namespace, so a service that installing its package started on
# the host is stopped again; one that was installed before is left alone.
# (The metrics tests start their own node_exporter, and the Kerberos tests
# their own KDC and kadmind, the same way.)
services=(slapd:slapd sssd:sssd sssd:sssd-ldap sssd:sssd-krb5 ssh:openssh-server
          prometheus-node-exporter:prometheus-node-exporter prometheus:prometheus
          krb5-kdc:krb5-kdc krb5-admin-server:krb5-admin-server)

missing_packages() {
    local p
    for p in "$@"; do
        dpkg-query -W -f='${Status}\n' "$p" 2>/dev/null | grep -q ' installed$' || echo "$p"
    done
}

# Installs the packages named, those that are missing.
ensure_packages() {
    local missing
    mapfile -t missing < <(missing_packages "$@")
    ((${#missing[@]})) || return 0
    local as=()
    if ((EUID != 0)); then
        # sudo may ask for a password only where someone can type it.
        if command -v sudo >/dev/null && { [[ -t 0 ]] || sudo -n true 2>/dev/null; }; then
            as=(sudo)
        else
            echo "Missing Debian packages; as root, run:" >&2
            echo "  apt-get install ${missing[*]}" >&2
            return 1
        fi
    fi
    echo "installing: ${missing[*]}"
    "${as[@]}" apt-get update -q
    "${as[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -q "${missing[@]}"
    local entry service
    for entry in "${services[@]}"; do
        service=${entry%%:*}
        [[ " ${missing[*]} " == *" ${entry#*:} "* ]] || continue
        if [[ -x /etc/init.d/$service ]] && /etc/init.d/"$service" status >/dev/null 2>&1; then
            "${as[@]}" /etc/init.d/"$service" stop
        fi
    done
    # The directory tests bring their own PAM stacks and nsswitch.conf; what
    # installing the client packages added to the host's is taken out again.
    local profile
    for profile in sss:libpam-sss krb5:libpam-krb5; do
        if [[ " ${missing[*]} " == *" ${profile#*:} "* ]] && command -v pam-auth-update >/dev/null; then
            "${as[@]}" env DEBIAN_FRONTEND=noninteractive pam-auth-update --disable "${profile%%:*}"
        fi
    done
    if [[ " ${missing[*]} " == *" libnss-sss "* ]]; then
        "${as[@]}" sed -i -E -e '/^(passwd|group|shadow|services|netgroup|sudoers|automount):/s/[[:space:]]+sss\b//' \
            -e '/^(netgroup|sudoers|automount):[[:space:]]*$/d' /etc/nsswitch.conf
    fi
}

if [[ "${BASH_SOURCE[0]}" == "$0" ]]; then
    case "${1:-}" in
        build) ensure_packages "${build_packages[@]}" ;;
        test) ensure_packages "${build_packages[@]}" "${test_packages[@]}" ;;
        *) echo "usage: $0 build|test" >&2; exit 2 ;;
    esac
fi
