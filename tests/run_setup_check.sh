#!/usr/bin/env bash
# Checks tests/setup.sh against a machine without GoogleTest, removing nothing: in a private mount
# namespace, empty mounts hide the files of libgtest-dev. As another user, setup must fail and say
# what to install; as root, it must install it, here with a stand-in apt-get that lifts the mounts.
set -euo pipefail
cd "$(dirname "$0")/.."

if [ "${1:-}" != --hidden ]; then
  exec unshare --mount --propagation private bash "$0" --hidden
fi

mounts=$(mktemp)
fake=$(mktemp -d)
trap 'rm -rf "$mounts" "$fake"' EXIT
hidden=""
for path in $(dpkg -L libgtest-dev | grep -i gtest); do
  if [ -n "$hidden" ] && [[ "$path" == "$hidden"/* ]]; then continue; fi
  if [ -d "$path" ]; then
    mount -t tmpfs -o ro,size=1k none "$path"
    hidden=$path
  else
    mount --bind /dev/null "$path"
  fi
  echo "$path" >>"$mounts"
done

expect() {  # expect WHAT EXPECTED_STATUS PATTERN COMMAND...
  local what=$1 expected=$2 text=$3 output status
  shift 3
  output=$("$@" 2>&1) && status=0 || status=$?
  if [ "$status" != "$expected" ] || ! grep -qE -- "$text" <<<"$output"; then
    printf 'set-up check failed: %s: exit %s (expected %s), output:\n%s\n' "$what" "$status" "$expected" "$output" >&2
    exit 1
  fi
  echo "set-up check: $what: as expected"
}

install_line="apt-get install -y --no-install-recommends libgtest-dev"
expect "root, dry run" 0 "would run: apt-get update && $install_line" bash tests/setup.sh --dry-run
# Another user cannot reach root's Python, so that user gets Debian's.
expect "other user" 1 "sudo apt-get install .*libgtest-dev" \
  setpriv --reuid=nobody --regid=nogroup --clear-groups env PATH=/usr/bin:/bin bash tests/setup.sh

cat >"$fake/apt-get" <<FAKE
#!/usr/bin/env bash
echo "apt-get \$*" >>"$fake/calls"
if [ "\$1" = install ]; then tac "$mounts" | xargs -r -n1 umount; fi
FAKE
chmod +x "$fake/apt-get"
expect "root, install" 0 "setup: installing libgtest-dev" env PATH="$fake:$PATH" bash tests/setup.sh
calls=$(cat "$fake/calls")
if [ "$calls" != "apt-get update -qq"$'\n'"$install_line -qq" ]; then
  printf 'set-up check failed: root, install: apt-get was called as:\n%s\n' "$calls" >&2
  exit 1
fi
