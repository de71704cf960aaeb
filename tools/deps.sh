#!/usr/bin/env bash
# Installs what the build and the tests need, and only what is missing, then
# fetches Debian's TinyXML source (with Debian's patches) into the build tree
# and applies the program's own patches to it.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build"
as_root() { if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi; }

packages=(
  g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix binutils-mingw-w64-i686 binutils-mingw-w64-x86-64
  wine wine32:i386 wine64 xvfb xauth x11-apps imagemagick
  cmake ninja-build clang libclang-rt-14-dev googletest openssl libssl-dev osslsigncode dpkg-dev make patch
)

updated=0
# A mirror caught mid-sync fails one index and with it the whole update;
# the packages usually still come from the indexes that did arrive, so a
# failed update is said and the install that follows is the real test.
apt_update() {
  if [ "$updated" -ne 0 ]; then return; fi
  updated=1
  local try
  for try in 1 2; do
    if as_root apt-get update -qq; then return; fi
    sleep 5
  done
  echo "deps: apt-get update failed for some indexes; going on with what arrived" >&2
}

if ! dpkg --print-foreign-architectures | grep -qx i386; then
  as_root dpkg --add-architecture i386
  apt_update
fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
apt_install() {
  as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "$@" >"$build/apt.txt" 2>&1
}
# When the security index of one architecture did not arrive, a multi-arch
# library offers a newer version for amd64 than for i386, and the two must
# be equal. Taking the release's own versions (-t) makes them equal; apt's
# resolver may still give up on a large set, so the libraries it names as
# "not going to be installed" are installed first, one at a time.
install_missing() {
  apt_install "$@" && return 0
  local codename round dep
  codename=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
  [ -n "$codename" ] || return 1
  for round in 1 2 3; do
    apt_install -t "$codename" "$@" && return 0
    for dep in $(grep -o '[^ ]* (>= [^)]*) but it is not going to be installed' "$build/apt.txt" |
                 cut -d' ' -f1 | sort -u); do
      apt_install -t "$codename" "$dep" || true
    done
  done
  return 1
}
if [ "${#missing[@]}" -gt 0 ]; then
  echo "deps: installing ${missing[*]}"
  apt_update
  mkdir -p "$build"
  if ! install_missing "${missing[@]}"; then
    cat "$build/apt.txt" >&2
    exit 1
  fi
fi

# Debian's TinyXML source, fetched once into tinyxml-debian/; the build uses a
# copy in tinyxml/ with the patches of third_party/patches/ applied in name
# order. The copy's stamp lists the patches it carries, so a copy made before a
# patch was added or changed is made again. The deb-src entries are derived
# from the machine's own apt sources so that no mirror is named here.
pristine="$build/third_party/tinyxml-debian"
tinyxml_dir="$build/third_party/tinyxml"
if [ ! -f "$pristine/tinyxml.cpp" ]; then
  src_list=/etc/apt/sources.list.d/zorvak-deb-src.sources
  if ! grep -rqs '^Types:.*deb-src' /etc/apt/sources.list.d/ && ! grep -qs '^deb-src' /etc/apt/sources.list; then
    if [ -f /etc/apt/sources.list.d/debian.sources ]; then
      sed 's/^Types: deb$/Types: deb-src/' /etc/apt/sources.list.d/debian.sources | as_root tee "$src_list" >/dev/null
    elif [ -f /etc/apt/sources.list ]; then
      grep '^deb ' /etc/apt/sources.list | sed 's/^deb /deb-src /' | as_root tee /etc/apt/sources.list.d/zorvak-deb-src.list >/dev/null
    fi
    updated=0
  fi
  apt_update
  work="$build/third_party/fetch"
  rm -rf "$work" && mkdir -p "$work"
  (cd "$work" && apt-get source -qq tinyxml >/dev/null 2>&1)
  src=$(find "$work" -maxdepth 2 -name tinyxml.cpp -printf '%h\n' | head -n 1)
  if [ -z "$src" ]; then echo "deps: apt-get source tinyxml gave no tinyxml.cpp" >&2; exit 1; fi
  rm -rf "$pristine" && mkdir -p "$pristine"
  cp "$src"/tinyxml.cpp "$src"/tinyxmlparser.cpp "$src"/tinyxmlerror.cpp "$src"/tinystr.cpp \
     "$src"/tinyxml.h "$src"/tinystr.h "$pristine"/
  rm -rf "$work"
fi
patches="$root/third_party/patches"
stamp="$tinyxml_dir/.ny-patches"
wanted=$(cd "$patches" && sha256sum tinyxml-*.patch)
if [ "$(cat "$stamp" 2>/dev/null)" != "$wanted" ]; then
  rm -rf "$tinyxml_dir" && cp -r "$pristine" "$tinyxml_dir"
  for p in "$patches"/tinyxml-*.patch; do
    if ! patch -d "$tinyxml_dir" -p1 --batch --forward --silent --no-backup-if-mismatch <"$p"; then
      echo "deps: $(basename "$p") does not apply to Debian's TinyXML in $pristine" >&2
      rm -rf "$tinyxml_dir"
      exit 1
    fi
  done
  printf '%s\n' "$wanted" >"$stamp"
  echo "deps: TinyXML patched with $(cd "$patches" && echo tinyxml-*.patch)"
fi
echo "deps: ready"
