#pragma once
// The one form in which two paths are compared. A script may write a path
// with '/', with doubled separators ("$(srcroot)\PackageFiles" doubles the
// one that srcroot ends in) or with "." and ".." parts; the system's own
// lists hold "\??\" paths. Each is brought to the full path first, so that
// the held-files table, the restart-time list and the process list agree on
// which paths name the same file.
#include <string>

// The full path: relative parts resolved against the current folder, '\'
// as the only separator and never two in a row (but for a UNC path's
// leading pair), no "\\?\" or "\??\" prefix, no trailing separator but a
// drive root's. Letter case as given.
std::wstring NyFullPath(const std::wstring& path);
// NyFullPath in upper case, as the file system compares names.
std::wstring NyPathKey(const std::wstring& path);
// Whether the key names something inside the folder's key.
bool NyPathKeyIsIn(const std::wstring& key, const std::wstring& folderKey);
