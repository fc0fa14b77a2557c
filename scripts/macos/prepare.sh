#!/usr/bin/env bash
# On a Mac: makes sure the Xcode command-line tools and the build tools are
# there. The application itself needs only the tools; CMake and Ninja come
# from Homebrew when they are missing, and so does GoogleTest, which the tests
# link; everything else links only the system. Safe to run again.
set -euo pipefail
if ! xcode-select -p >/dev/null 2>&1; then
  echo "Installing the Xcode command-line tools; run this command again when they are in place."
  xcode-select --install
  exit 1
fi

missing=()
command -v cmake >/dev/null 2>&1 || missing+=(cmake)
command -v ninja >/dev/null 2>&1 || missing+=(ninja)
command -v pkg-config >/dev/null 2>&1 || missing+=(pkg-config)

brew=$(command -v brew 2>/dev/null || true)
have_formula() { [ -n "$brew" ] && "$brew" list --versions "$1" >/dev/null 2>&1; }
for formula in googletest; do
  have_formula "$formula" || missing+=("$formula")
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi
if [ -z "$brew" ]; then
  echo "Missing: ${missing[*]}. Install Homebrew (https://brew.sh) and run this command again," >&2
  echo "or install them by other means and put them on PATH." >&2
  exit 1
fi
echo "Installing with Homebrew: ${missing[*]}"
"$brew" install "${missing[@]}"
