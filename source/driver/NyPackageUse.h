#pragma once
// Which of the package's files a run writes into the extraction folder.
// A folder that the install's lists only copy (a File action with Src
// "folder\*" or "folder\") is copied straight from the package, so its bytes
// are written once, where they belong; an uninstall that does not name such
// a folder leaves it in the package altogether. Every other file is
// extracted: a program, a .reg or certificate file and whatever lies beside
// them must be real files while an action uses them, and the version rule of
// a single file's copy reads the source file.
#include <string>
#include <vector>

#include "NyConfigScript.h"

// The NyPathKey of each folder under extractDir whose files may stay in the
// package in a run of nMode (a SETUP_MODE_ value): a folder copy's source
// that no other value of the install's lists reaches into, lies in, or lies
// beside; for an uninstall, of those the ones that no value of its own lists
// reaches either. A repair or an upgrade extracts everything.
std::vector<std::wstring> FoldersLeftInPackage(const CNyXmlConfigScript& script, const std::wstring& extractDir,
                                               int32_t nMode);
