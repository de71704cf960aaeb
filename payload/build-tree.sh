#!/usr/bin/env bash
# Lays out the shipped package's tree: the setup script, the two minidriver
# DLLs, the configuration file and the empty folders.
#   build-tree.sh TREE SCRIPT CFG DLL_X86 DLL_X64
set -euo pipefail
tree=$1 script=$2 cfg=$3 dll86=$4 dll64=$5
rm -rf "$tree"
root="$tree/PackageFiles"
mkdir -p "$root/System32(x86)" "$root/System32(x64)" "$root/Share" "$root/Reg" \
         "$root/ProgramFiles(x86)/Zorvak/MiniDriver"
cp "$script" "$root/SetupScript.xml"
cp "$cfg" "$root/Share/ZorvakMiniDriver.cfg"
cp "$dll86" "$root/System32(x86)/ZorvakMiniDriver.dll"
cp "$dll64" "$root/System32(x64)/ZorvakMiniDriver.dll"
