#!/usr/bin/env bash
# Checks tests/setup.sh against a machine without GoogleTest, removing nothing: in a private mount
# namespace, empty mounts hide the files of libgtest-dev. As another user, setup must fail and say
# what to install; as root, it must install it, here with a stand-in apt-get that lifts the mounts.
# Also tests/venv.sh, and both against a Debian python3 whose ensurepip (python3-venv) is hidden.
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

# The checkout's venv (tests/venv.sh): made, reused while healthy, made anew once broken.
venv=$fake/venv
expect "venv made" 0 "^$venv/bin/python$" bash tests/venv.sh python3 "$venv"
expect "venv reused" 0 "^$venv/bin/python$" bash tests/venv.sh python3 "$venv"
rm "$venv/bin/python"
expect "broken venv made anew" 0 "making it anew" bash tests/venv.sh python3 "$venv"
rm -rf "$venv"

# Debian's python3 without python3-venv, which holds its ensurepip: setup names the package, and
# venv.sh says what to install.
ensurepip=$(/usr/bin/python3 -c 'import ensurepip, os; print(os.path.dirname(ensurepip.__file__))')
mount -t tmpfs -o ro,size=1k none "$ensurepip"
expect "other user, no venv" 1 "sudo apt-get install .*python3-venv" \
  setpriv --reuid=nobody --regid=nogroup --clear-groups env PATH=/usr/bin:/bin bash tests/setup.sh
expect "venv without ensurepip" 1 "apt-get install python3-venv" bash tests/venv.sh /usr/bin/python3 "$venv"
umount "$ensurepip"

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
