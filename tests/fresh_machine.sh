#!/usr/bin/env bash
# The README's run command on a fresh machine: makes a minimal Debian root
# (debootstrap --variant=minbase, from the mirror in this machine's apt
# sources), clones the repository's committed HEAD into it (or copies the
# tree, where it is no git checkout) and runs
# `./run.sh --help` there under chroot. Passes when that installs what the
# build needs, builds groundview, boardtool and makeworld, and exits 0, and
# every library that pkg-config names for the build comes from an installed
# package.
#   tests/fresh_machine.sh [SOURCE_TREE]
# Status 77 (skipped, saying why) only where it cannot run at all: not root,
# no Debian-style apt source, no mount or chroot allowed, no network to the
# mirror.
#
# The bare root is kept as a tarball and, unpacked, as a tree that each run
# only reads (an overlay mount puts the run's changes in a scratch layer, in
# memory where there is room), and every .deb that apt downloads in it is
# kept too, in $GROUNDVIEW_FRESH_CACHE (default /var/cache/groundview/
# fresh-machine/), so that a repeat costs the install and the build only.
# Where no overlay can be mounted, each run unpacks the tarball instead.
# The root is made again after 30 days. With GROUNDVIEW_FRESH_FULL=1 it goes
# on with ./test.sh's install step and builds everything that ./test.sh's
# first build builds, without running the tests (they need Xvfb).
# GROUNDVIEW_FRESH_MIRROR and GROUNDVIEW_FRESH_SUITE override the mirror and
# the suite; GROUNDVIEW_FRESH_LIMIT (seconds, default 2400) bounds the whole
# check. INT or TERM stop it at once, cleaned up.
set -euo pipefail

SRC=$(cd "${1:-$(dirname "$0")/..}" && pwd)
CACHE=${GROUNDVIEW_FRESH_CACHE:-/var/cache/groundview/fresh-machine}
WORK_BASE=${GROUNDVIEW_FRESH_WORK:-/var/tmp}
DEADLINE=$((SECONDS + ${GROUNDVIEW_FRESH_LIMIT:-2400}))

say() { printf 'fresh_machine [%4ds]: %s\n' "$SECONDS" "$*"; }
skip() { echo "skipped: $*"; exit 77; }
fail() { echo "FAIL: $*" >&2; exit 1; }
remaining() {
  local left=$((DEADLINE - SECONDS))
  [ $left -gt 0 ] || fail "out of time (GROUNDVIEW_FRESH_LIMIT)"
  echo $left
}

[ "$(id -u)" -eq 0 ] || skip "needs root (debootstrap, mount and chroot)"
command -v dpkg >/dev/null || skip "not a Debian or Ubuntu machine (no dpkg)"
command -v debootstrap >/dev/null || fail "debootstrap is not installed (tools/install-deps.sh test installs it)"

# The mirror and the components of the first apt source of this suite, from
# deb822 .sources files or one-line .list files: "URI COMPONENT,COMPONENT".
apt_source() {
  local suite=$1 f line key value uris suites types components enabled
  for f in /etc/apt/sources.list.d/*.sources; do
    [ -f "$f" ] || continue
    uris="" suites="" types="" components="" enabled=""
    while IFS= read -r line || [ -n "$line" ]; do
      if [ -z "${line//[[:space:]]/}" ]; then
        if [[ " $types " == *" deb "* && " $suites " == *" $suite "* && ${enabled,,} != no && -n $uris ]]; then
          echo "${uris%% *} ${components// /,}"
        fi
        uris="" suites="" types="" components="" enabled=""
        continue
      fi
      [[ $line == \#* || $line != *:* ]] && continue
      key=${line%%:*}
      read -r value <<<"${line#*:}" || true
      case ${key,,} in
        uris) uris=$value ;; suites) suites=$value ;; types) types=$value ;;
        components) components=$value ;; enabled) enabled=$value ;;
      esac
    done < <(cat "$f"; echo; echo)
  done
  for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
    [ -f "$f" ] || continue
    sed -e 's/#.*//' -e 's/\[[^]]*\]//' "$f" |
      awk -v s="$suite" '$1 == "deb" && $3 == s { c = $4; for (i = 5; i <= NF; i++) c = c "," $i; print $2, c }'
  done
}

suite=${GROUNDVIEW_FRESH_SUITE:-$(. /etc/os-release && echo "${VERSION_CODENAME:-}")}
[ -n "$suite" ] || skip "cannot tell this machine's release (no VERSION_CODENAME in /etc/os-release)"
source_line=$(apt_source "$suite" | head -n 1)
mirror=${GROUNDVIEW_FRESH_MIRROR:-${source_line%% *}}
components=${source_line#* }
[ -n "$mirror" ] || skip "no apt source for $suite in /etc/apt/sources.list{,.d}"
[ -n "$components" ] && [ "$components" != "$source_line" ] || components=main
arch=$(dpkg --print-architecture)
say "suite $suite ($components) for $arch from $mirror"

if command -v wget >/dev/null; then
  wget -q -T 20 -t 2 -O /dev/null "$mirror/dists/$suite/InRelease" ||
    skip "no network to the mirror: $mirror/dists/$suite/InRelease cannot be fetched"
fi

# ---- Clean-up, on every way out. Nothing is removed while anything is still
# mounted under the work directory.
mkdir -p "$CACHE/debs" "$CACHE/debootstrap-debs" "$WORK_BASE"
WORK=""
ROOT=""

mounts_under() { awk -v d="$1/" 'index($5 "/", d) == 1 { print $5 }' /proc/self/mountinfo | sort -r; }

unmount_all() {
  local dir=$1 m
  for m in $(mounts_under "$dir"); do umount "$m" 2>/dev/null || umount -l "$m" 2>/dev/null || true; done
}

# Ends what is still running inside the root, each process by its id, and
# waits up to 10 s for them to be gone.
# (test -ef compares the root each process sees with the directory, without
# a command started for each of the machine's processes.)
processes_in() {
  local p
  for p in /proc/[0-9]*; do
    if [ "$p/root" -ef "$1" ]; then echo "${p#/proc/}"; fi
  done
}
end_processes_in() {
  local root=$1 pids
  for _ in $(seq 20); do
    pids=$(processes_in "$root")
    [ -n "$pids" ] || return 0
    kill -9 $pids 2>/dev/null || true
    sleep 0.5
  done
}

# timeout runs in the foreground mode throughout: the check stays one
# process group, which ./test.sh reprioritises and stops whole; what a
# timeout leaves behind in the root is ended by the clean-up below.
#
# Runs a long command in the background and waits for it: bash runs a trap
# only between two commands, and a wait ends at once on a signal, so that
# INT or TERM are handled (and the root cleaned up) straight away.
CHILD=""
long() {
  local status=0
  "$@" &
  CHILD=$!
  wait "$CHILD" || status=$?
  CHILD=""
  return $status
}

# The .debs apt fetched in the root go into the cache (hard links where they
# can be); ones unused for 90 days leave it.
keep_debs() {
  local f
  [ -n "$ROOT" ] && [ -d "$ROOT/var/cache/apt/archives" ] || return 0
  for f in "$ROOT"/var/cache/apt/archives/*.deb; do
    [ -f "$f" ] && [ ! -e "$CACHE/debs/${f##*/}" ] || continue
    ln "$f" "$CACHE/debs/" 2>/dev/null ||
      { cp "$f" "$CACHE/debs/.${f##*/}.$$" && mv "$CACHE/debs/.${f##*/}.$$" "$CACHE/debs/${f##*/}"; } || true
  done
  find "$CACHE/debs" -name '*.deb' -atime +90 -delete 2>/dev/null || true
}

remove_work() {
  local dir=$1
  unmount_all "$dir"
  if [ -n "$(mounts_under "$dir")" ]; then
    echo "fresh_machine: still mounted under $dir, left in place:" $(mounts_under "$dir") >&2
    return 0
  fi
  rm -rf --one-file-system "$dir"
}

cleanup() {
  local status=$?
  trap - EXIT INT TERM HUP
  [ -z "$CHILD" ] || kill "$CHILD" 2>/dev/null || true
  if [ -n "$ROOT" ]; then
    end_processes_in "$ROOT"
    # Before the root's overlay goes: the downloads lie in it.
    keep_debs
    unmount_all "$ROOT"
  fi
  [ -z "$WORK" ] || remove_work "$WORK"
  exit $status
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM HUP

# Work directories of earlier runs that were killed before they could clean up.
for old in "$WORK_BASE"/groundview-fresh.*; do
  [ -d "$old" ] || continue
  pid=${old#"$WORK_BASE"/groundview-fresh.}
  pid=${pid%%.*}
  [[ $pid =~ ^[0-9]+$ ]] && ! kill -0 "$pid" 2>/dev/null || continue
  end_processes_in "$old/root"
  say "removing $old, left by an earlier run"
  remove_work "$old"
done

WORK=$(mktemp -d "$WORK_BASE/groundview-fresh.$$.XXXXXX")
# The run's files in memory where there is plenty (the root grows to about
# 2 GB): dpkg and the compiler then wait for no disk.
available_kb=$(awk '/^MemAvailable:/ { print $2 }' /proc/meminfo)
if [ "${GROUNDVIEW_FRESH_TMPFS:-1}" = 1 ] && [ "${available_kb:-0}" -gt $((8 * 1024 * 1024)) ] &&
  mount -t tmpfs -o size=6g,mode=700 groundview-fresh "$WORK" 2>/dev/null; then
  say "work directory $WORK in memory (tmpfs)"
fi
ROOT=$WORK/root
mkdir "$ROOT"

# ---- The bare root: from the cache, or made now and cached. One run at a
# time makes it; the others wait for it.
key=$suite-$arch-$(printf '%s %s' "$mirror" "$components" | md5sum | cut -c1-8)
tarball=$CACHE/minbase-$key.tar
exec 9>"$CACHE/lock"
flock -w "$(remaining)" 9 || fail "waited too long for $CACHE/lock"
tree=$CACHE/minbase-$key.root
if [ -s "$tarball" ] && [ -z "$(find "$tarball" -mtime +30)" ]; then
  say "bare root from $tarball"
else
  say "making the bare root: debootstrap --variant=minbase $suite"
  start=$SECONDS
  long timeout --foreground -k 10 "$(remaining)" debootstrap --variant=minbase --components="$components" \
    --cache-dir="$CACHE/debootstrap-debs" "$suite" "$ROOT" "$mirror" >"$WORK/debootstrap.log" 2>&1 || {
    tail -n 30 "$WORK/debootstrap.log"
    fail "debootstrap failed (log above)"
  }
  rm -f "$ROOT"/var/cache/apt/archives/*.deb
  tar -C "$ROOT" -cf "$tarball.$$" . && mv "$tarball.$$" "$tarball"
  say "debootstrap took $((SECONDS - start)) s; kept as $tarball"
  # The root just made serves this run; the next one unpacks the new
  # tarball into the tree.
fi

# The unpacked tree, made from the tarball once (marked complete by a copy
# of the tarball's time) and then only read: each run mounts an overlay on it
# whose upper layer lies in the run's work directory. A tree that a running
# check still has mounted is never removed.
tree_mounted() { grep -qF "lowerdir=$1," /proc/self/mountinfo; }
overlay=0
if [ -z "$(ls -A "$ROOT")" ] && [ "${GROUNDVIEW_FRESH_OVERLAY:-1}" = 1 ]; then
  if [ "$(stat -c %Y "$tree/.groundview-complete" 2>/dev/null)" != "$(stat -c %Y "$tarball")" ]; then
    if [ -d "$tree" ]; then
      if tree_mounted "$tree"; then
        mv "$tree" "$tree.old.$$"
      else
        rm -rf --one-file-system "$tree"
      fi
    fi
    rm -rf --one-file-system "$tree.new"
    mkdir "$tree.new"
    if tar -C "$tree.new" -xf "$tarball" && touch -r "$tarball" "$tree.new/.groundview-complete"; then
      mv "$tree.new" "$tree"
      say "unpacked $tarball into $tree"
    else
      rm -rf --one-file-system "$tree.new"
    fi
  fi
  for old in "$tree".old.*; do
    [ -d "$old" ] && ! tree_mounted "$old" && rm -rf --one-file-system "$old" || true
  done
  mkdir "$WORK/upper" "$WORK/overlay-work"
  if [ -e "$tree/.groundview-complete" ] &&
    mount -t overlay groundview-fresh -o "lowerdir=$tree,upperdir=$WORK/upper,workdir=$WORK/overlay-work" "$ROOT" 2>/dev/null; then
    overlay=1
    rm -f "$ROOT/.groundview-complete"
    say "bare root: an overlay on $tree"
  fi
fi
flock -u 9
exec 9>&-
if [ $overlay = 0 ] && [ -z "$(ls -A "$ROOT")" ]; then
  tar -C "$ROOT" -xf "$tarball"
  say "bare root unpacked from $tarball"
fi

# Earlier downloads, linked in where they can be. Name resolution as on this
# machine. No services started, and dpkg without fsync (a throw-away root):
# neither changes what is installed.
find "$CACHE/debs" -maxdepth 1 -name '*.deb' -exec cp -l -t "$ROOT/var/cache/apt/archives/" {} + 2>/dev/null ||
  find "$CACHE/debs" -maxdepth 1 -name '*.deb' -exec cp -t "$ROOT/var/cache/apt/archives/" {} +
cp -L /etc/resolv.conf "$ROOT/etc/resolv.conf"
cp -L /etc/hosts "$ROOT/etc/hosts"
printf '#!/bin/sh\nexit 101\n' >"$ROOT/usr/sbin/policy-rc.d"
chmod +x "$ROOT/usr/sbin/policy-rc.d"
echo force-unsafe-io >"$ROOT/etc/dpkg/dpkg.cfg.d/groundview-unsafe-io"

# ---- The repository, as a newcomer clones it: the committed HEAD. A tree
# that is no git checkout (an unpacked archive) is copied, less its builds.
if command -v git >/dev/null && git -C "$SRC" rev-parse --git-dir >/dev/null 2>&1; then
  commit=$(git -C "$SRC" rev-parse HEAD)
  git clone -q --no-hardlinks "$SRC" "$ROOT/groundview"
  git -C "$ROOT/groundview" checkout -q --detach "$commit"
  [ -z "$(git -C "$SRC" status --porcelain --untracked-files=no)" ] ||
    say "note: $SRC has uncommitted changes; they are not part of this check"
  say "cloned $commit"
else
  mkdir "$ROOT/groundview"
  tar -C "$SRC" --exclude=./.git --exclude='./build*' -cf - . | tar -C "$ROOT/groundview" -xf -
  say "copied $SRC (no git checkout)"
fi

mount -t proc proc "$ROOT/proc" 2>/dev/null || skip "cannot mount /proc in a chroot here (no mount permission)"
mount --bind /dev "$ROOT/dev"
[ ! -d /dev/pts ] || mount --bind /dev/pts "$ROOT/dev/pts"

in_root() {
  timeout --foreground -k 10 "$(remaining)" chroot "$ROOT" /usr/bin/env -i HOME=/root TERM=dumb LANG=C.UTF-8 \
    PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
    bash -c "cd /groundview && $1" </dev/null
}

# Each line of output with the seconds since the check started.
stamp() { while IFS= read -r line || [ -n "$line" ]; do printf '[%4ds] %s\n' "$SECONDS" "$line"; done; }

say "running ./run.sh --help in the root"
start=$SECONDS
in_root_stamped() { in_root "$1" 2>&1 | stamp; }
status=0
long in_root_stamped './run.sh --help' >"$WORK/run.log" || status=$?
cat "$WORK/run.log"
say "./run.sh --help: status $status after $((SECONDS - start)) s"
[ $status -eq 0 ] || fail "./run.sh --help exited with status $status on a fresh $suite"
grep -q '^\[ *[0-9]*s\] usage: groundview' "$WORK/run.log" || fail "./run.sh --help printed no usage"
for program in groundview boardtool makeworld; do
  [ -x "$ROOT/groundview/build/bin/$program" ] || fail "./run.sh built no build/bin/$program"
done
in_root 'build/bin/boardtool --help' >/dev/null || fail "build/bin/boardtool --help failed"

# Every -l that pkg-config hands the build must be a library of an installed
# package (not one that happens to lie around).
in_root '
  status=0
  for module in $(sed -n "s/^[A-Za-z0-9_]*_MODULE_NAME:INTERNAL=//p" build/CMakeCache.txt | tr ";" " "); do
    for flag in $(pkg-config --libs "$module"); do
      case $flag in -l*) ;; *) continue ;; esac
      lib=${flag#-l}
      file=$(cc -print-file-name="lib$lib.so")
      [ "$file" != "lib$lib.so" ] || file=$(cc -print-file-name="lib$lib.a")
      case $file in
        /*) file=$(realpath -s "$file") ;;
        *) echo "  $module: $flag: the compiler finds no lib$lib.so or lib$lib.a" >&2; status=1; continue ;;
      esac
      if package=$(dpkg -S "$file" 2>/dev/null || dpkg -S "$(realpath "$file")" 2>/dev/null); then
        echo "  $module: $flag from ${package%%:*}"
      else
        echo "  $module: $flag comes from no installed package" >&2
        status=1
      fi
    done
  done
  exit $status' || fail "a library that pkg-config names is not installed by tools/install-deps.sh build"

if [ "${GROUNDVIEW_FRESH_FULL:-0}" = 1 ]; then
  say "GROUNDVIEW_FRESH_FULL: ./test.sh's install step and first build"
  start=$SECONDS
  long in_root_stamped 'tools/install-deps.sh test &&
    cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DGROUNDVIEW_TESTS=ON -DGROUNDVIEW_BENCH=ON >/dev/null &&
    cmake --build build -j"$(nproc)"' || fail "./test.sh's install step or build failed on a fresh $suite"
  say "install step and build took $((SECONDS - start)) s"
fi
echo ok
