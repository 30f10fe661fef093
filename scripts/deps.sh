#!/usr/bin/env bash
# Installs Debian packages that are missing (as root, or through sudo); does nothing when all are
# there. Without arguments: what building and testing the project needs. With arguments: those
# packages (the scripts that need more, such as the Windows build, ask for theirs).
set -euo pipefail
if [ $# -gt 0 ]; then
  packages=("$@")
else
  packages=(cmake ninja-build g++ make pkg-config libgtest-dev libgmock-dev qt6-base-dev)
fi
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update
# An install waits for dpkg's lock while another apt-get (a script running beside this one)
# holds it; apt-get update does not wait for the lists' lock, which is why .ci/run installs
# everything before it starts anything beside its steps.
$sudo apt-get install -y --no-install-recommends -o DPkg::Lock::Timeout=300 "${missing[@]}"
