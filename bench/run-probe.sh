#!/usr/bin/env bash
# Runs the availability probe and the group lookup in generated worlds of
# 1,000, 10,000 and 100,000 users: for each, a mount namespace in which
# generated /etc/passwd, /etc/shadow, /etc/group and a files-only
# /etc/nsswitch.conf are bound over the host's (the host's files are never
# touched).  Needs root.
#   bench/run-probe.sh BUILD_DIR [SIZES...]
# Two kinds of world:
#   passwd   every user's password field holds "*" and /etc/shadow lists
#            root only, so no shadow lookup finds an entry;
#   shadow   every user has "x" in /etc/passwd and an entry "*" in
#            /etc/shadow, so every record asks the shadow database (the
#            walk answers those lookups from its index of the shadow file).
# No user has a valid encrypted password, so the probe walks everyone.
# Then, in each world, "credcheck -g" and the whole-host audit
# "credcheck -a --all" are timed side by side with a "getent passwd" plus
# "getent shadow" walk of the same world: the best of
# REPEAT runs (default 5) of each, CPU time (user + system) of the
# processes and wall time, all output to /dev/null.
set -euo pipefail
build="$(cd "${1:?usage: bench/run-probe.sh BUILD_DIR [SIZES...]}" && pwd)"
shift
sizes=("$@")
((${#sizes[@]})) || sizes=(1000 10000 100000)
bench="$build/bench/bench_cred"
credcheck="$build/credcheck"
[[ -x $bench && -x $credcheck ]] ||
  { echo "build first: cmake --build $build --target bench_cred credcheck" >&2; exit 1; }
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
inworld() {  # inworld DIR COMMAND...
  local dir=$1
  shift
  unshare -m --propagation private sh -c '
    for f in passwd shadow group nsswitch.conf; do mount --bind "$1/$f" "/etc/$f" || exit 97; done
    shift; exec "$@"' sh "$dir" "$@"
}

for kind in passwd shadow; do
  for n in "${sizes[@]}"; do
    dir="$tmp/$kind-$n"
    world "$dir" "$kind" "$n"
    echo "=== world: $kind, $n users ==="
    inworld "$dir" "$bench" --benchmark_filter='BM_Probe|BM_GetUserGroups' \
      --benchmark_counters_tabular=true ${BENCH_ARGS:-}
  done
done

cat > "$tmp/sidebyside.py" <<'PY'
import resource, subprocess, sys, time
kind, n, repeat, credcheck = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), sys.argv[4]
walks = {"probe": [[credcheck, "-g"]], "audit": [[credcheck, "-a", "--all"]], "getent": [["getent", "passwd"], ["getent", "shadow"]]}
def once(cmds):
    before, start = resource.getrusage(resource.RUSAGE_CHILDREN), time.perf_counter()
    for cmd in cmds:
        subprocess.run(cmd, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    return (after.ru_utime + after.ru_stime - before.ru_utime - before.ru_stime,
            time.perf_counter() - start)
best = {k: [float("inf")] * 2 for k in walks}
for _ in range(repeat):
    for k, cmds in walks.items():
        best[k] = [min(a, b) for a, b in zip(best[k], once(cmds))]
(pc, pw), (ac, aw), (gc, gw) = best["probe"], best["audit"], best["getent"]
print("| %s | %s | %.1f ms | %.2f µs | %.1f ms | %.2f µs | %.1f ms | %.2f µs | %.2f | %.2f | %.1f ms | %.1f ms | %.1f ms |" % (
    kind, format(n, ","), pc * 1e3, pc / n * 1e6, ac * 1e3, ac / n * 1e6, gc * 1e3, gc / n * 1e6,
    pc / gc, ac / gc, pw * 1e3, aw * 1e3, gw * 1e3))
PY
echo "=== credcheck -g and credcheck -a --all against getent passwd + getent shadow ==="
echo "| world | users | probe CPU | per user | audit CPU | per user | getent CPU | per user | probe/getent | audit/getent | probe wall | audit wall | getent wall |"
echo "|---|---|---|---|---|---|---|---|---|---|---|---|---|"
for kind in shadow passwd; do
  for n in "${sizes[@]}"; do
    inworld "$tmp/$kind-$n" python3 "$tmp/sidebyside.py" "$kind" "$n" "${REPEAT:-5}" "$credcheck"
  done
done
