#!/usr/bin/env bash
# Runs the availability probe and the group lookup in generated worlds of
# 1,000, 10,000 and 100,000 users: for each, a mount namespace in which
# generated /etc/passwd, /etc/shadow, /etc/group and a files-only
# /etc/nsswitch.conf are bound over the host's (the host's files are never
# touched).  Needs root.
#   bench/run-probe.sh BUILD_DIR [SIZES...]
# Two kinds of world:
#   passwd   every user's password field holds "*" and /etc/shadow lists
#            root only, so each shadow lookup fails after one line;
#   shadow   every user has "x" in /etc/passwd and an entry "*" in
#            /etc/shadow, so each shadow lookup reads the shadow file up to
#            that user (the host's getspnam scans the file every time).
# No user has a valid encrypted password, so the probe walks everyone.
set -euo pipefail
build="$(cd "${1:?usage: bench/run-probe.sh BUILD_DIR [SIZES...]}" && pwd)"
shift
sizes=("$@")
((${#sizes[@]})) || sizes=(1000 10000 100000)
bench="$build/bench/bench_cred"
[[ -x $bench ]] || { echo "build bench_cred first: cmake --build $build --target bench_cred" >&2; exit 1; }
[[ $(id -u) == 0 ]] || { echo "needs root (mount namespaces)" >&2; exit 1; }

world() {  # world DIR KIND N
  local dir=$1 kind=$2 n=$3
  mkdir -p "$dir"
  python3 - "$dir" "$kind" "$n" <<'PY'
import os, sys
d, kind, n = sys.argv[1], sys.argv[2], int(sys.argv[3])
field = "x" if kind == "shadow" else "*"
with open(os.path.join(d, "passwd"), "w") as f:
    f.write("root:%s:0:0:root:/root:/bin/sh\n" % field)
    for i in range(1, n):
        f.write("u%06d:%s:%d:%d:User %d:/home/u%06d:/bin/sh\n" % (i, field, 10000 + i, 100, i, i))
with open(os.path.join(d, "shadow"), "w") as f:
    f.write("root:*:19000:0:99999:7:::\n")
    if kind == "shadow":
        for i in range(1, n):
            f.write("u%06d:*:19000:0:99999:7:::\n" % i)
with open(os.path.join(d, "group"), "w") as f:
    f.write("root:x:0:\n")
    for i in range(1, n):
        f.write("g%06d:x:%d:u%06d%s\n" % (i, 20000 + i, i, ",bench" if i % 10 == 0 else ""))
with open(os.path.join(d, "nsswitch.conf"), "w") as f:
    f.write("passwd: files\ngroup: files\nshadow: files\ngshadow: files\n")
PY
  chmod 644 "$dir/passwd" "$dir/group" "$dir/nsswitch.conf"
  chmod 640 "$dir/shadow"
}

tmp="$(mktemp -d)"
trap 'rm -rf "$tmp"' EXIT
for kind in passwd shadow; do
  for n in "${sizes[@]}"; do
    # The host's getspnam makes the shadow world quadratic: keep it small.
    if [[ $kind == shadow && $n -gt 10000 ]]; then continue; fi
    dir="$tmp/$kind-$n"
    world "$dir" "$kind" "$n"
    echo "=== world: $kind, $n users ==="
    unshare -m --propagation private sh -c '
      for f in passwd shadow group nsswitch.conf; do mount --bind "$1/$f" "/etc/$f" || exit 97; done
      shift; exec "$@"' sh "$dir" "$bench" --benchmark_filter='BM_Probe|BM_GetUserGroups' \
      --benchmark_counters_tabular=true ${BENCH_ARGS:-}
  done
done
