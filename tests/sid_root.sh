#!/usr/bin/env bash
# A Debian sid root with the newest CPythons (3.14, 3.15) and the newest g++, for the release check
# and the newest-compiler build. It is cached outside the repository, in SID_ROOT (default below),
# and made anew where it is missing or broken: debootstrap builds it in a temporary directory that
# is renamed into place only once complete, so an interrupted build leaves no half-made root that
# later runs would trust. Needs root; installs debootstrap from Debian's packages where missing.
#
#   bash tests/sid_root.sh                 make the root where needed; print its path
#   bash tests/sid_root.sh run [-n] DIR|- COMMAND...
#                                          run COMMAND as root in it, with /proc, /dev and the
#                                          directory DIR mounted at /src ("-": none); -n: without
#                                          a network. The mounts live in a private mount namespace,
#                                          so they end with the command and never show on the host.
set -euo pipefail
root=${SID_ROOT:-/var/cache/pytarntext/sid-root}
packages=(python3.14-dev python3.14-venv python3.15-dev python3.15-venv g++ cmake make locales)
stamp=.pytarntext-sid-root  # in the root, naming what it holds: written last, when complete

healthy() {
  [ "$(cat "$root/$stamp" 2>/dev/null)" = "${packages[*]}" ] &&
    chroot "$root" /bin/sh -c 'python3.14 -c "" && python3.15 -c "" && g++ --version' >/dev/null 2>&1 &&
    "$root/usr/local/bin/python3.14-host" -c "" 2>/dev/null &&
    "$root/usr/local/bin/python3.15-host" -c "" 2>/dev/null
}

# What building on the host against this root's interpreters needs (tests/run_release.sh): each
# interpreter runnable on the host, through the root's own loader and libraries, and its multiarch
# pyconfig.h directory alone in include-host/, for the compiler's -idirafter, so that nothing else
# of the root's headers can stand in for the host's.
host_builds() {
  local tmp=$1 version triplet
  triplet=$(chroot "$tmp" gcc -dumpmachine)
  mkdir -p "$tmp/usr/local/include-host/$triplet"
  for version in 3.14 3.15; do
    printf '%s\n' '#!/bin/sh' \
      "# Python $version of $root, run on the host; its prefix (or venv) is found from \$0." \
      "exec $root/lib64/ld-linux-x86-64.so.2 --argv0 \"\$0\" \\" \
      "  --library-path $root/lib/$triplet:$root/usr/lib/$triplet $root/usr/bin/python$version \"\$@\"" \
      >"$tmp/usr/local/bin/python$version-host"
    chmod +x "$tmp/usr/local/bin/python$version-host"
    ln -s "../../../include/$triplet/python$version" "$tmp/usr/local/include-host/$triplet/"
  done
}

mirror() {  # the Debian mirror that this machine's apt uses (not its security archive)
  local uris  # the first word after "URIs:" (deb822) or after "deb [options]" (one-line style)
  uris=$(cat /etc/apt/sources.list /etc/apt/sources.list.d/*.list /etc/apt/sources.list.d/*.sources \
    2>/dev/null | sed -n -e 's/\[[^]]*\]//' -e 's/^URIs: *//p' -e 's/^deb  *//p' | awk '{ print $1 }' || true)
  grep -v -- '-security' <<<"$uris" | grep -m1 '/debian/\?$'
}

in_root() {  # in_root NETWORK(yes|no) SRC|- ROOT COMMAND...
  local network=$1 src=$2 dir=$3
  shift 3
  local isolate=(unshare --mount --propagation private)
  [ "$network" = no ] && isolate+=(--net)
  "${isolate[@]}" /bin/bash -euo pipefail -c '
    dir=$1 src=$2
    shift 2
    mount -t proc proc "$dir/proc"
    mount --rbind /dev "$dir/dev"
    if [ "$src" != - ]; then mkdir -p "$dir/src"; mount --bind "$src" "$dir/src"; fi
    exec chroot "$dir" /usr/bin/env -i HOME=/root LANG=C.UTF-8 TERM=dumb \
      PATH=/usr/local/bin:/usr/bin:/bin:/usr/local/sbin:/usr/sbin:/sbin "$@"
  ' in_root "$dir" "$src" "$@"
}

# The host's name servers and CA bundle, so that pip reaches the registry from inside the root as
# it does here (through whatever the host's bundle trusts). Copied in on every run too, as the host's
# may have changed since the root was made; each lands whole (a rename).
network_files() {
  local file
  for file in /etc/resolv.conf /etc/ssl/certs/ca-certificates.crt; do
    mkdir -p "$1$(dirname "$file")"
    cp "$file" "$1$file.new.$$" && mv "$1$file.new.$$" "$1$file"
  done
}

build() {
  local started=$SECONDS tmp="$root.partial"
  command -v debootstrap >/dev/null || {
    DEBIAN_FRONTEND=noninteractive apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends debootstrap >/dev/null
  }
  local from
  from=$(mirror) || { echo "sid root: no Debian mirror in this machine's apt sources" >&2; exit 1; }
  echo "sid root: building $root (about two minutes and 1 GiB)" >&2
  rm -rf --one-file-system "$tmp"  # what an interrupted build left
  # In a private mount namespace too: the /proc and /sys that debootstrap mounts in the new root end
  # with it, even when it is interrupted.
  unshare --mount --propagation private debootstrap --variant=minbase sid "$tmp" "$from" \
    >"$tmp.log" 2>&1 ||
    { tail -20 "$tmp.log" >&2; exit 1; }
  network_files "$tmp"
  in_root yes - "$tmp" /bin/sh -c "
    export DEBIAN_FRONTEND=noninteractive
    # A mirror may serve a dated copy of sid, whose Release file has expired: its signature still counts.
    apt-get update -qq -o Acquire::Check-Valid-Until=false && apt-get install -y -qq --no-install-recommends ${packages[*]} >/dev/null &&
    apt-get clean && localedef -i de_DE -f UTF-8 de_DE.UTF-8" >>"$tmp.log" 2>&1 ||
    { tail -20 "$tmp.log" >&2; exit 1; }
  host_builds "$tmp"
  network_files "$tmp"  # again: the root's own ca-certificates package wrote its bundle
  echo "${packages[*]}" >"$tmp/$stamp"
  # The old root, if any, goes only now, and the new one takes its name in one step.
  if [ -e "$root" ]; then mv "$root" "$root.old"; fi
  mv "$tmp" "$root"
  rm -rf --one-file-system "$root.old" "$tmp.log"
  echo "sid root: built in $((SECONDS - started)) s" >&2
}

mkdir -p "$(dirname "$root")"
(
  # One build at a time; a second caller waits for it and then finds the root healthy.
  flock 9
  healthy || build
) 9>"$root.lock"

if [ "${1:-}" = run ]; then
  shift
  network=yes
  if [ "$1" = -n ]; then network=no; shift; fi
  src=$1
  shift
  [ "$src" = - ] || src=$(realpath "$src")
  network_files "$root"
  in_root "$network" "$src" "$root" "$@"
else
  echo "$root"
fi
