#include "NyPackageUse.h"

#include <cstring>
#include <cwctype>
#include <memory>

#include "NyConfigItem.h"
#include "NyPathKey.h"
#include "NySetupInfo.h"

namespace {

// The lists an install or an uninstall carries out, in this process.
constexpr const char* kInstallLists[] = {"Insall", "Install Finish"};
constexpr const char* kUninstallLists[] = {"Uninstall", "Uninstall Finish"};

// The folder a File action copies whole, or empty.
std::wstring CopiedFolder(CNyXmlConfigItem* pItem) {
  CNyString src;
  if (strcmp(pItem->GetName(), "File") != 0 || pItem->GetAttribute("Src", &src) != 0) return std::wstring();
  std::wstring path = src.GetWide();
  if (!path.empty() && path.back() == L'*') path.pop_back();
  if (path.empty() || path.back() != L'\\') return std::wstring();
  return NyPathKey(path);
}

bool Overlap(const std::wstring& a, const std::wstring& b) {
  return a == b || NyPathKeyIsIn(a, b) || NyPathKeyIsIn(b, a);
}

// The folders a value names under the extraction folder: a path there may
// end at a quote, or (in a command line) at a space, so both readings count.
void AddReachedFolders(const std::wstring& value, const std::wstring& extractKey, std::vector<std::wstring>* pReached) {
  std::wstring upper = value;
  for (wchar_t& ch : upper) ch = ch == L'/' ? L'\\' : static_cast<wchar_t>(towupper(ch));
  for (size_t at = upper.find(extractKey); at != std::wstring::npos; at = upper.find(extractKey, at + 1)) {
    for (const wchar_t* pwszEnd : {L"\"", L"\" \t"}) {
      const std::wstring path = value.substr(at, value.find_first_of(pwszEnd, at) - at);
      const size_t slash = path.rfind(L'\\');
      pReached->push_back(NyPathKey(slash == std::wstring::npos ? path : path.substr(0, slash)));
    }
  }
}

// Calls fn with each action of the two lists.
template <typename Fn>
void ForEachAction(const CNyXmlConfigScript& script, const char* const (&lists)[2], Fn fn) {
  for (const char* pszList : lists) {
    const std::unique_ptr<CNyXmlConfigItem> list(script.GetItem("Action", pszList));
    for (uint32_t i = 0; list != nullptr && i < list->GetChildCount(); ++i) {
      CNyXmlConfigItem* pItem = list->GetChild(i);
      if (pItem != nullptr) fn(pItem);
    }
  }
}

void AddActionReachedFolders(CNyXmlConfigItem* pItem, const std::wstring& extractKey,
                             std::vector<std::wstring>* pReached) {
  for (const CNyString& value : pItem->GetAllValues()) AddReachedFolders(value.GetWide(), extractKey, pReached);
}

std::vector<std::wstring> Unreached(const std::vector<std::wstring>& folders, const std::vector<std::wstring>& reached) {
  std::vector<std::wstring> left;
  for (const std::wstring& folder : folders) {
    bool bReached = false;
    for (const std::wstring& other : reached) bReached = bReached || Overlap(folder, other);
    if (!bReached) left.push_back(folder);
  }
  return left;
}

}  // namespace

std::vector<std::wstring> FoldersLeftInPackage(const CNyXmlConfigScript& script, const std::wstring& extractDir,
                                               int32_t nMode) {
  if (nMode != SETUP_MODE_INSTALL && nMode != SETUP_MODE_UNINSTALL) return {};
  const std::wstring extractKey = NyPathKey(extractDir);
  std::vector<std::wstring> copied, reached;
  ForEachAction(script, kInstallLists, [&](CNyXmlConfigItem* pItem) {
    const std::wstring folder = CopiedFolder(pItem);
    if (folder.empty() || !NyPathKeyIsIn(folder, extractKey)) {
      AddActionReachedFolders(pItem, extractKey, &reached);
      return;
    }
    copied.push_back(folder);
    CNyString dest;
    if (pItem->GetAttribute("Dest", &dest) == 0) AddReachedFolders(dest.GetWide(), extractKey, &reached);
  });
  const std::vector<std::wstring> left = Unreached(copied, reached);
  if (nMode == SETUP_MODE_INSTALL) return left;
  std::vector<std::wstring> uninstallReached;
  ForEachAction(script, kUninstallLists,
                [&](CNyXmlConfigItem* pItem) { AddActionReachedFolders(pItem, extractKey, &uninstallReached); });
  return Unreached(left, uninstallReached);
}
