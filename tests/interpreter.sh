# Sourced by the scripts that need a given CPython: `interpreter 3.8` prints the newest patch release
# of that minor version under the pyenv root, else the one on PATH, and fails where there is none.
interpreter() {
  local root found
  root=$(pyenv root 2>/dev/null || echo "$HOME/.pyenv")
  found=$(ls -d "$root/versions/$1".[0-9]* 2>/dev/null | sort -V | tail -1)
  if [ -n "$found" ] && [ -x "$found/bin/python$1" ]; then
    echo "$found/bin/python$1"
  else
    command -v "python$1"
  fi
}
