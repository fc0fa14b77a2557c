#!/usr/bin/env bash
# On a Mac: makes sure the Xcode command-line tools and the build tools are there.
set -euo pipefail
if ! xcode-select -p >/dev/null 2>&1; then
  echo "Installing the Xcode command-line tools; run this command again when they are in place."
  xcode-select --install
  exit 1
fi
