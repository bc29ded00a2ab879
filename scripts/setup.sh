#!/usr/bin/env bash
# Installs what a fresh Debian 12 machine lacks to build and test fwupgrade. Safe to run again.
set -euo pipefail
pkgs=(cmake ninja-build g++ qt6-base-dev qt6-base-dev-tools libgl-dev libssl-dev libgtest-dev googletest
      iproute2 util-linux xvfb xauth python3 curl
      # real peers and desktop for the end-to-end tests
      vsftpd tftpd-hpa tftp-hpa openbox xdotool x11-apps x11-utils imagemagick
      # the Ansible collection's test (its sshds are started by the test, in namespaces)
      ansible-core openssh-server
      # peak memory in the benchmarks (/usr/bin/time -v)
      time
      # fuzzing, packaging
      clang libclang-rt-14-dev lintian dpkg-dev fakeroot file libcap2-bin)
missing=()
for p in "${pkgs[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    sudo=""
    [ "$(id -u)" -eq 0 ] || sudo="sudo"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}"
fi
