#!/usr/bin/env bash
# Installs, with apt-get, the Debian packages the build and tests need and that are
# missing. Does nothing when everything is there. Needs root only to install.
set -euo pipefail

packages=(g++ cmake make pkg-config binutils libgtest-dev libgmock-dev
          libbenchmark-dev libsqlite3-dev libcli11-dev nlohmann-json3-dev)

missing=()
for p in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
  [[ "$status" == "install ok installed" ]] || missing+=("$p")
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

echo "setup: installing ${missing[*]}"
if [[ $(id -u) -ne 0 ]]; then
  echo "setup: these packages are missing and installing them needs root" >&2
  exit 1
fi
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}"
