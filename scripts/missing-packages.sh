# Sourced by build-deps and test-deps: notes the Debian packages this machine lacks and installs
# them in one go.

missing=()

# need PACKAGE PATH: PACKAGE is missing when PATH (a file, or a command on PATH) is not there.
need() {
  if [ "${2#/}" != "$2" ]; then [ -e "$2" ] || missing+=("$1")
  else command -v "$2" >/dev/null || missing+=("$1"); fi
}

# What building flowdeck and its plug-ins takes.
need_build_tools() {
  need cmake cmake
  need ninja-build ninja
  need g++ g++
  need zlib1g-dev /usr/include/zlib.h
  need libxml2-dev /usr/include/libxml2/libxml/xmlreader.h
  need libsimdjson-dev /usr/include/simdjson.h
  need pkg-config pkg-config
  need libc-ares-dev /usr/include/ares.h
}

# install_missing WHO: installs what was noted, as root or through sudo.
install_missing() {
  [ ${#missing[@]} -gt 0 ] || return 0
  echo "$1: installing ${missing[*]}"
  sudo=()
  if [ "$(id -u)" -ne 0 ]; then
    command -v sudo >/dev/null || { echo "$1: run as root to install ${missing[*]}" >&2; exit 1; }
    sudo=(sudo)
  fi
  # Debian starts a server's service as it installs it unless policy-rc.d says no; nginx and
  # Apache would then hold port 80, which the tests bind themselves.
  policy=/usr/sbin/policy-rc.d
  if [ ! -e "$policy" ]; then
    printf '#!/bin/sh\nexit 101\n' | "${sudo[@]}" tee "$policy" >/dev/null
    "${sudo[@]}" chmod 755 "$policy"
    trap '"${sudo[@]}" rm -f "$policy"' EXIT
  fi
  "${sudo[@]}" apt-get update -qq
  "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}" >/dev/null
}
