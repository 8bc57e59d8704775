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
#   mixed    a host as it looks: a quarter of the users with a yescrypt hash
#            (the default cost), a quarter sha512crypt, each with its own
#            salt, the rest locked ("!" before such a hash) or disabled; and
#            "alice", whose yescrypt hash is of the password "secret".
#   private  the shadow world with a private primary group per user, as
#            Debian makes them: user N is in group N, of its own id, and
#            /etc/group has one line per user (the audit notes a primary
#            group that has no entry, so it asks for every user's).
# In the first three no user has a valid encrypted password, so the probe
# walks everyone.  The hashes of the mixed world are made of random salts
# (made by the host's crypt_gensalt) and random digests: only their syntax
# matters when no password is checked.
# Then, in each world, "credcheck -g" and the whole-host audit
# "credcheck -a --all" are timed side by side with a "getent passwd" plus
# "getent shadow" walk of the same world (and "getent group" in the
# private world, whose groups the audit reads as well): the best of
# REPEAT runs (default 5) of each, CPU time (user + system) of the
# processes and wall time, all output to /dev/null.
# PAMD=FOLDER binds FOLDER over /etc/pam.d in every world (a stack with
# pam_krb5, say, makes every user's credential the KDC's).
set -euo pipefail
export PAMD="${PAMD:-}"
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
import random
rng = random.Random(n)  # the digests; the salts come from the host's random source
alphabet = "./0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"
def text(k):
    return "".join(rng.choice(alphabet) for _ in range(k))
import ctypes
libcrypt = ctypes.CDLL("libcrypt.so.1")
libcrypt.crypt_gensalt.restype = ctypes.c_char_p
libcrypt.crypt_gensalt.argtypes = [ctypes.c_char_p, ctypes.c_ulong, ctypes.c_char_p, ctypes.c_int]
def mixed(i):
    yescrypt = libcrypt.crypt_gensalt(b"$y$", 0, None, 0).decode()  # a salt the host's crypt takes
    made = ("%s$%s" % (yescrypt, text(43)), "$6$%s$%s" % (text(16), text(86)))
    return (made[0], made[1], "!" + made[i % 2], ("*", "!", "!!")[i % 3])[i % 4]
field = "*" if kind == "passwd" else "x"
private = kind == "private"
with open(os.path.join(d, "passwd"), "w") as f:
    f.write("root:%s:0:0:root:/root:/bin/sh\n" % field)
    for i in range(1, n):
        f.write("u%06d:%s:%d:%d:User %d:/home/u%06d:/bin/sh\n" % (
            i, field, 10000 + i, 10000 + i if private else 100, i, i))
    if kind == "mixed":
        f.write("alice:x:9999:100:Alice:/home/alice:/bin/sh\n")
with open(os.path.join(d, "shadow"), "w") as f:
    f.write("root:*:19000:0:99999:7:::\n")
    for i in range(1, n if kind != "passwd" else 1):
        f.write("u%06d:%s:19000:0:99999:7:::\n" % (i, mixed(i) if kind == "mixed" else "*"))
    if kind == "mixed":
        f.write("alice:%s:19000:0:99999:7:::\n" % os.environ["ALICE_HASH"])
with open(os.path.join(d, "group"), "w") as f:
    f.write("root:x:0:\n")
    for i in range(1, n):
        f.write("g%06d:x:%d:u%06d%s\n" % (i, 20000 + i, i, ",bench" if i % 10 == 0 else ""))
        if private:
            f.write("u%06d:x:%d:\n" % (i, 10000 + i))
with open(os.path.join(d, "nsswitch.conf"), "w") as f:
    f.write("passwd: files\ngroup: files\nshadow: files\ngshadow: files\n")
PY
  chmod 644 "$dir/passwd" "$dir/group" "$dir/nsswitch.conf"
  chmod 640 "$dir/shadow"
}

# alice's hash: yescrypt at the default cost, as Debian makes it.
ALICE_HASH=$(mkpasswd -m yescrypt secret)
export ALICE_HASH
tmp="$(mktemp -d)"
trap 'rm -rf "$tmp"' EXIT
inworld() {  # inworld DIR COMMAND...
  local dir=$1
  shift
  unshare -m --propagation private sh -c '
    for f in passwd shadow group nsswitch.conf; do mount --bind "$1/$f" "/etc/$f" || exit 97; done
    [ -z "$PAMD" ] || mount --bind "$PAMD" /etc/pam.d || exit 97
    shift; exec "$@"' sh "$dir" "$@"
}

kinds=(${KINDS:-passwd shadow private mixed})
for kind in "${kinds[@]}"; do
  for n in "${sizes[@]}"; do
    dir="$tmp/$kind-$n"
    world "$dir" "$kind" "$n"
    # the probe stops at its first user in the mixed world; the private one is
    # the shadow world for the probe
    [[ $kind == mixed || $kind == private ]] && continue
    echo "=== world: $kind, $n users ==="
    inworld "$dir" "$bench" --benchmark_filter='BM_Probe|BM_GetUserGroups' \
      --benchmark_counters_tabular=true ${BENCH_ARGS:-}
  done
done

cat > "$tmp/sidebyside.py" <<'PY'
import resource, subprocess, sys, time
kind, n, repeat, credcheck = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), sys.argv[4]
walks = {"probe": [[credcheck, "-g"]], "audit": [[credcheck, "-a", "--all"]],
         "getent": [["getent", "passwd"], ["getent", "shadow"]] + ([["getent", "group"]] if kind == "private" else [])}
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
echo "=== credcheck -g and credcheck -a --all against getent passwd + getent shadow (+ getent group: private) ==="
echo "| world | users | probe CPU | per user | audit CPU | per user | getent CPU | per user | probe/getent | audit/getent | probe wall | audit wall | getent wall |"
echo "|---|---|---|---|---|---|---|---|---|---|---|---|---|"
for kind in "${kinds[@]}"; do
  for n in "${sizes[@]}"; do
    inworld "$tmp/$kind-$n" python3 "$tmp/sidebyside.py" "$kind" "$n" "${REPEAT:-5}" "$credcheck"
  done
done

# One user of the mixed world: the report without a password against
# "passwd -S", and with the password against one crypt of that hash, in
# this process (no start-up counted for it).
cat > "$tmp/single.py" <<'PY'
import ctypes, os, resource, subprocess, sys, time
repeat, credcheck, hash_ = int(sys.argv[1]), sys.argv[2], os.environ["ALICE_HASH"]
libcrypt = ctypes.CDLL("libcrypt.so.1")
libcrypt.crypt.restype, libcrypt.crypt.argtypes = ctypes.c_char_p, [ctypes.c_char_p, ctypes.c_char_p]
def once(cmd):
    before, start = resource.getrusage(resource.RUSAGE_CHILDREN), time.perf_counter()
    subprocess.run(cmd, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    return after.ru_utime + after.ru_stime - before.ru_utime - before.ru_stime, time.perf_counter() - start
def crypt_once():
    start = time.process_time()
    assert libcrypt.crypt(b"secret", hash_.encode()).decode() == hash_
    return time.process_time() - start, 0
rows = [("-a alice", [credcheck, "-a", "alice"], "passwd -S alice", ["passwd", "-S", "alice"]),
        ("-a alice secret", [credcheck, "-a", "alice", "secret"], "one crypt of alice's hash", None)]
for name, cmd, ref_name, ref in rows:
    ours, theirs = [float("inf")] * 2, [float("inf")] * 2
    for _ in range(repeat):
        ours = [min(a, b) for a, b in zip(ours, once(cmd))]
        theirs = [min(a, b) for a, b in zip(theirs, once(ref) if ref else crypt_once())]
    print("| `credcheck %s` | %.2f ms | %s | %.2f ms | %.2f |" % (name, ours[0] * 1e3, ref_name, theirs[0] * 1e3,
                                                              ours[0] / theirs[0]))
PY
if [[ " ${kinds[*]} " == *" mixed "* ]]; then
  echo "=== one user of the mixed world (CPU time, best of ${REPEAT:-5}) ==="
  echo "| run | CPU | reference | reference CPU | ratio |"
  echo "|---|---|---|---|---|"
  inworld "$tmp/mixed-${sizes[0]}" python3 "$tmp/single.py" "${REPEAT:-5}" "$credcheck"
fi
