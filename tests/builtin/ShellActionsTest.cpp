// CreateShortcut read back through the shell-link interface; the Trusted
// Sites mapping against recording zone and security managers and the
// system's own.
#include <windows.h>
#include <shlobj.h>
#include <shobjidl.h>
#include <urlmon.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ActionHarness.h"
#include "CaptureLogger.h"
#include "NyComUtil.h"
#include "NyResult.h"
#include "NyShellUtil.h"
#include "ScratchDir.h"
#include "UndoJournal.h"

namespace {

struct LinkFacts {
  std::wstring target, workDir, args, icon;
  int nIcon = -1;
};

LinkFacts ReadLink(const std::wstring& path) {
  LinkFacts facts;
  CNyComInit com;
  CNyComPtr<IShellLinkW> link;
  if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW, link.PutVoid()))) {
    ADD_FAILURE() << "no shell link object";
    return facts;
  }
  CNyComPtr<IPersistFile> file;
  if (FAILED(link->QueryInterface(IID_IPersistFile, file.PutVoid())) || FAILED(file->Load(path.c_str(), STGM_READ))) {
    ADD_FAILURE() << "cannot load " << Narrow(path);
    return facts;
  }
  wchar_t wsz[MAX_PATH] = {};
  link->GetPath(wsz, MAX_PATH, nullptr, SLGP_RAWPATH);
  facts.target = wsz;
  wsz[0] = 0;
  link->GetWorkingDirectory(wsz, MAX_PATH);
  facts.workDir = wsz;
  wsz[0] = 0;
  link->GetArguments(wsz, MAX_PATH);
  facts.args = wsz;
  wsz[0] = 0;
  link->GetIconLocation(wsz, MAX_PATH, &facts.nIcon);
  facts.icon = wsz;
  return facts;
}

class Shortcuts : public ActionHarness {
 protected:
  std::string Root() const { return Narrow(m_dir.Path()); }
  ScratchDir m_dir{L"ny_shortcuts"};
};

TEST_F(Shortcuts, CreatesTheLinkAsDescribed) {
  const std::wstring target = m_dir / L"app\\Uninstall.exe";
  ASSERT_TRUE(CreateDirectoryW((m_dir / L"app").c_str(), nullptr));
  ASSERT_TRUE(WriteTextFile(target, "MZ"));
  ASSERT_TRUE(WriteTextFile(m_dir / L"app\\icons.dll", "MZ"));
  EXPECT_EQ(Run("<CreateShortcut RootPath='" + Root() + "' SubDirName='Zorvak\\Tools' Name='Uninstall' Src='" +
                Narrow(target) + "' Icon='" + Narrow(m_dir / L"app\\icons.dll") + "' CmdLine='/UNINSTALL /S' Index='3'/>"),
            0u);
  const LinkFacts facts = ReadLink(m_dir / L"Zorvak\\Tools\\Uninstall.lnk");
  EXPECT_EQ(Narrow(facts.target), Narrow(target));
  EXPECT_EQ(Narrow(facts.workDir), Narrow(m_dir / L"app"));
  EXPECT_EQ(Narrow(facts.args), "/UNINSTALL /S");
  EXPECT_EQ(Narrow(facts.icon), Narrow(m_dir / L"app\\icons.dll"));
  EXPECT_EQ(facts.nIcon, 3);
}

TEST_F(Shortcuts, IconDefaultsToTheTargetAndNamesKeepOneExtension) {
  const std::wstring target = m_dir / L"Tool.exe";
  ASSERT_TRUE(WriteTextFile(target, "MZ"));
  EXPECT_EQ(Run("<CreateShortcut RootPath='" + Root() + "' SubDirName='' Name='Tool.LNK' Src='" + Narrow(target) +
                "' Index='2'/>"),
            0u);
  EXPECT_TRUE(PathExists(m_dir / L"Tool.LNK"));
  EXPECT_FALSE(PathExists(m_dir / L"Tool.LNK.lnk"));
  const LinkFacts facts = ReadLink(m_dir / L"Tool.LNK");
  EXPECT_EQ(Narrow(facts.icon), Narrow(target));
  EXPECT_EQ(facts.nIcon, 2);
  EXPECT_EQ(Narrow(facts.args), "");
  // Nothing but the target and the shortcut: no extra folder for the empty SubDirName.
  int nEntries = 0;
  WIN32_FIND_DATAW data;
  HANDLE hFind = FindFirstFileW((m_dir / L"*").c_str(), &data);
  ASSERT_NE(hFind, INVALID_HANDLE_VALUE);
  do {
    if (data.cFileName[0] != L'.') ++nEntries;
  } while (FindNextFileW(hFind, &data));
  FindClose(hFind);
  EXPECT_EQ(nEntries, 2);
}

TEST_F(Shortcuts, DottedFolderNamesAreFolders) {
  const std::wstring target = m_dir / L"Tool.exe";
  ASSERT_TRUE(WriteTextFile(target, "MZ"));
  EXPECT_EQ(Run("<CreateShortcut RootPath='" + Root() + "' SubDirName='Zorvak 6.4' Name='Tool' Src='" +
                Narrow(target) + "'/>"),
            0u);
  EXPECT_EQ(Narrow(ReadLink(m_dir / L"Zorvak 6.4\\Tool.lnk").target), Narrow(target));
}

TEST_F(Shortcuts, FailsOnlyWhenTheFolderCannotBeMade) {
  ASSERT_TRUE(WriteTextFile(m_dir / L"file", "x"));
  CaptureLogger log;
  EXPECT_NE(Run("<CreateShortcut RootPath='" + Root() + "\\file' SubDirName='sub' Name='A' Src='C:\\a.exe'/>"), 0u);
  EXPECT_TRUE(log.Contains("----- CNyActionCreateShortcut::Do failed(Ret=0x"));
  // A link the shell cannot save (a name with a character files cannot
  // have) still counts as done.
  EXPECT_EQ(Run("<CreateShortcut RootPath='" + Root() + "' Name='a|b' Src='C:\\a.exe'/>"), 0u);
}

TEST_F(Shortcuts, AnUndoPutsBackTheLinkThatWasThereAndRemovesANewOne) {
  const std::wstring target = m_dir / L"Tool.exe", link = m_dir / L"Zorvak\\Tool.lnk";
  ASSERT_TRUE(WriteTextFile(target, "MZ"));
  const std::string create = "<CreateShortcut RootPath='" + Root() + "' Name='Tool' Src='" + Narrow(target) + "' ";
  ASSERT_EQ(Run(create + "SubDirName='Zorvak' CmdLine='/old'/>"), 0u);
  const std::string oldLink = ReadTextFile(link);
  UndoJournal journal;
  EXPECT_EQ(Make(create + "SubDirName='Zorvak' CmdLine='/new'/>")->Do(journal.Info()), 0u);
  EXPECT_EQ(Narrow(ReadLink(link).args), "/new");
  EXPECT_EQ(Make(create + "SubDirName='Fresh\\Sub'/>")->Do(journal.Info()), 0u);
  EXPECT_EQ(journal.UndoAll(), 0u);
  EXPECT_EQ(ReadTextFile(link), oldLink);
  EXPECT_FALSE(PathExists(m_dir / L"Fresh"));
  journal.ExpectCutStepsRefused();

  // Made again and committed: the new link, and nothing kept beside it.
  journal.steps.clear();
  EXPECT_EQ(Make(create + "SubDirName='Zorvak' CmdLine='/new'/>")->Do(journal.Info()), 0u);
  journal.CommitAll();
  EXPECT_EQ(Narrow(ReadLink(link).args), "/new");
  EXPECT_FALSE(PathExists(link + L".NyBackup1"));
}

TEST_F(Shortcuts, AttributesAndTemplates) {
  EXPECT_EQ(Make("<CreateShortcut Name='A' Src='s'/>")->LoadConfig(0), NY_E_ATTR_MISSING);
  EXPECT_EQ(Make("<CreateShortcut RootPath='C:\\r' Src='s'/>")->LoadConfig(0), NY_E_ATTR_MISSING);
  EXPECT_EQ(Make("<CreateShortcut RootPath='C:\\r' Name='A'/>")->LoadConfig(0), NY_E_ATTR_MISSING);
  EXPECT_EQ(Make("<CreateShortcut RootPath='C:\\r' Name='' Src='s'/>")->Do(nullptr), NY_E_INVALID_PARAM);
  EXPECT_EQ(Make("<CreateShortcut RootPath='' Name='A' Src='s'/>")->Do(nullptr), NY_E_INVALID_PARAM);
  EXPECT_EQ(Describe(Make("<CreateShortcut RootPath='C:\\r' SubDirName='Zorvak' Name='Uninstall' Src='s'/>")),
            "Create shortcut C:\\r\\Zorvak\\Uninstall");
  EXPECT_EQ(Describe(Make("<CreateShortcut RootPath='C:\\r' Name='Uninstall' Src='s'/>")),
            "Create shortcut C:\\r\\\\Uninstall");
  EXPECT_EQ(DescribeWithoutTemplate("<CreateShortcut RootPath='C:\\r' Name='A' Src='s'/>"), NY_E_NO_TEMPLATE);
}

// The patterns a security manager lists for a zone.
class FakeMappings : public IEnumString {
 public:
  explicit FakeMappings(std::vector<std::wstring> patterns) : m_patterns(std::move(patterns)) {}
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** ppv) override {
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 1; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE Next(ULONG celt, LPOLESTR* rgelt, ULONG* pceltFetched) override {
    ULONG got = 0;
    for (; got < celt && m_next < m_patterns.size(); ++got, ++m_next) {
      const size_t cb = (m_patterns[m_next].size() + 1) * sizeof(wchar_t);
      rgelt[got] = static_cast<LPOLESTR>(CoTaskMemAlloc(cb));
      memcpy(rgelt[got], m_patterns[m_next].c_str(), cb);
    }
    if (pceltFetched != nullptr) *pceltFetched = got;
    return got == celt ? S_OK : S_FALSE;
  }
  HRESULT STDMETHODCALLTYPE Skip(ULONG) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Reset() override {
    m_next = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Clone(IEnumString**) override { return E_NOTIMPL; }

 private:
  std::vector<std::wstring> m_patterns;
  size_t m_next = 0;
};

// Records the zone attributes written and the mappings asked for.
class FakeZones : public IInternetZoneManager, public IInternetSecurityManager {
 public:
  explicit FakeZones(DWORD dwFlags, HRESULT hrMapping, FakeMappings* pMappings = nullptr)
      : m_dwFlags(dwFlags), m_hrMapping(hrMapping), m_pMappings(pMappings) {}
  std::vector<std::string> calls;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** ppv) override {
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 1; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }

  HRESULT STDMETHODCALLTYPE GetZoneAttributes(DWORD dwZone, ZONEATTRIBUTES* p) override {
    calls.push_back("get " + std::to_string(dwZone));
    p->dwFlags = m_dwFlags;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE SetZoneAttributes(DWORD dwZone, ZONEATTRIBUTES* p) override {
    calls.push_back("set " + std::to_string(dwZone) + " flags " + std::to_string(p->dwFlags));
    m_dwFlags = p->dwFlags;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE SetZoneMapping(DWORD dwZone, LPCWSTR pwszPattern, DWORD dwFlags) override {
    calls.push_back("map " + std::to_string(dwZone) + " " + Narrow(pwszPattern) + " " + std::to_string(dwFlags) +
                    " with flags " + std::to_string(m_dwFlags));
    return m_hrMapping;
  }

  HRESULT STDMETHODCALLTYPE GetZoneCustomPolicy(DWORD, REFGUID, BYTE**, DWORD*, URLZONEREG) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE SetZoneCustomPolicy(DWORD, REFGUID, BYTE*, DWORD, URLZONEREG) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetZoneActionPolicy(DWORD, DWORD, BYTE*, DWORD, URLZONEREG) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE SetZoneActionPolicy(DWORD, DWORD, BYTE*, DWORD, URLZONEREG) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE PromptAction(DWORD, HWND, LPCWSTR, LPCWSTR, DWORD) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE LogAction(DWORD, LPCWSTR, LPCWSTR, DWORD) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE CreateZoneEnumerator(DWORD*, DWORD*, DWORD) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetZoneAt(DWORD, DWORD, DWORD*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE DestroyZoneEnumerator(DWORD) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE CopyTemplatePoliciesToZone(DWORD, DWORD, DWORD) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE SetSecuritySite(IInternetSecurityMgrSite*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetSecuritySite(IInternetSecurityMgrSite**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE MapUrlToZone(LPCWSTR, DWORD*, DWORD) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetSecurityId(LPCWSTR, BYTE*, DWORD*, DWORD_PTR) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE ProcessUrlAction(LPCWSTR, DWORD, BYTE*, DWORD, BYTE*, DWORD, DWORD, DWORD) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE QueryCustomPolicy(LPCWSTR, REFGUID, BYTE**, DWORD*, BYTE*, DWORD, DWORD) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE GetZoneMappings(DWORD, IEnumString** ppEnum, DWORD) override {
    if (m_pMappings == nullptr) return E_NOTIMPL;
    m_pMappings->Reset();
    *ppEnum = m_pMappings;
    return S_OK;
  }

 private:
  DWORD m_dwFlags;
  HRESULT m_hrMapping;
  FakeMappings* m_pMappings;
};

std::string Join(const std::vector<std::string>& calls) {
  std::string text;
  for (const std::string& call : calls) text += call + "; ";
  return text;
}

TEST(TrustedZoneMapping, VerificationFlagIsLiftedOnlyAroundTheMappingWhenSet) {
  FakeZones zones(0x4 | 0x1, S_OK);
  EXPECT_EQ(ApplyTrustedZoneMapping(&zones, &zones, L"http://*.zorvak.test", false), 0u);
  EXPECT_EQ(Join(zones.calls), "get 2; set 2 flags 1; map 2 http://*.zorvak.test 0 with flags 1; set 2 flags 5; ");

  // Restored whatever the mapping answered, and that answer is returned unchanged.
  FakeZones failing(0x4, E_ACCESSDENIED);
  EXPECT_EQ(ApplyTrustedZoneMapping(&failing, &failing, L"http://a.test", true), static_cast<uint32_t>(E_ACCESSDENIED));
  EXPECT_EQ(Join(failing.calls), "get 2; set 2 flags 0; map 2 http://a.test 1 with flags 0; set 2 flags 4; ");

  FakeZones clear(0x1, HRESULT_FROM_WIN32(ERROR_FILE_EXISTS));
  EXPECT_EQ(ApplyTrustedZoneMapping(&clear, &clear, L"https://b.test", false), 0x80070050u);
  EXPECT_EQ(Join(clear.calls), "get 2; map 2 https://b.test 0 with flags 1; ");
}

TEST(TrustedZoneMapping, WhatAChangeFoundComesBack) {
  FakeMappings mappings({L"https://other.test", L"HTTPS://A.TEST"});
  FakeZones listed(0x4 | 0x1, S_OK, &mappings);
  NyTrustedZoneState mapped, unmapped, unknown;
  ASSERT_EQ(ReadTrustedZoneState(&listed, &listed, L"https://a.test", &mapped), 0u);
  EXPECT_EQ(mapped.mapped, NyZoneMapped::Yes);
  EXPECT_EQ(mapped.dwFlags, 5u);
  ASSERT_EQ(ReadTrustedZoneState(&listed, &listed, L"https://b.test", &unmapped), 0u);
  EXPECT_EQ(unmapped.mapped, NyZoneMapped::No);
  FakeZones unlisted(0x4, S_OK);
  ASSERT_EQ(ReadTrustedZoneState(&unlisted, &unlisted, L"https://a.test", &unknown), 0u);
  EXPECT_EQ(unknown.mapped, NyZoneMapped::Unknown);

  // A run that died while it added the mapping left the flag cleared.
  FakeZones added(0x1, S_OK);
  EXPECT_EQ(RestoreTrustedZoneState(&added, &added, L"https://b.test", false, unmapped), 0u);
  EXPECT_EQ(Join(added.calls), "get 2; map 2 https://b.test 1 with flags 1; get 2; set 2 flags 5; ");
  FakeZones removed(0x5, HRESULT_FROM_WIN32(ERROR_FILE_EXISTS));
  EXPECT_EQ(RestoreTrustedZoneState(&removed, &removed, L"https://a.test", true, mapped), 0u);
  EXPECT_EQ(Join(removed.calls), "get 2; set 2 flags 1; map 2 https://a.test 0 with flags 1; set 2 flags 5; get 2; ");
  // Added where it was mapped already, or unknown: the mapping is left alone.
  FakeZones left(0x5, E_ACCESSDENIED);
  EXPECT_EQ(RestoreTrustedZoneState(&left, &left, L"https://a.test", false, mapped), 0u);
  EXPECT_EQ(RestoreTrustedZoneState(&left, &left, L"https://a.test", true, unknown), 0u);
  EXPECT_EQ(Join(left.calls), "get 2; get 2; ");
  FakeZones refused(0x4, E_ACCESSDENIED);
  EXPECT_EQ(RestoreTrustedZoneState(&refused, &refused, L"https://b.test", false, unmapped),
            static_cast<uint32_t>(E_ACCESSDENIED));
}

class TrustedSites : public ActionHarness {
 protected:
  // What the system's security manager itself answers for the mapping.
  static uint32_t SystemMapping(const wchar_t* pwszUrl, DWORD dwFlags) {
    CNyComInit com;
    CNyComPtr<IInternetSecurityManager> security;
    const HRESULT hr = CoCreateInstance(CLSID_InternetSecurityManager, nullptr, CLSCTX_INPROC_SERVER,
                                        IID_IInternetSecurityManager, security.PutVoid());
    if (FAILED(hr)) return static_cast<uint32_t>(hr);
    return static_cast<uint32_t>(security->SetZoneMapping(2, pwszUrl, dwFlags));
  }
};

TEST_F(TrustedSites, ActionsReturnTheSystemsAnswer) {
  uint32_t u4Added = SystemMapping(L"https://zorvak-test.example", SZM_CREATE);
  if (u4Added == 0x80070050u) u4Added = 0;
  EXPECT_EQ(Run("<AddTrustedSite Url='https://zorvak-test.example'/>"), u4Added);
  EXPECT_EQ(Run("<AddTrustedSite Url='https://zorvak-test.example'/>"), u4Added) << "twice is fine";

  CaptureLogger log;
  const uint32_t u4Removed = SystemMapping(L"https://zorvak-test.example", SZM_DELETE);
  SystemMapping(L"https://zorvak-test.example", SZM_CREATE);
  EXPECT_EQ(Run("<DelTrustedSite Url='https://zorvak-test.example'/>"), u4Removed);
  EXPECT_FALSE(log.Contains("+++++ CNyActionDelTrustedSite::Do"));
  EXPECT_FALSE(log.Contains("----- CNyActionDelTrustedSite::Do"));
  EXPECT_EQ(log.Contains("u4Result = "), u4Removed != 0);
}

TEST_F(TrustedSites, TheirStepsAreUndoneOnTheSystemsManagers) {
  UndoJournal journal;
  Make("<AddTrustedSite Url='https://zorvak-test.example'/>")->Do(journal.Info());
  Make("<DelTrustedSite Url='https://zorvak-test.example'/>")->Do(journal.Info());
  EXPECT_EQ(journal.Count("ZONE"), 2u);
  EXPECT_EQ(journal.UndoAll(), 0u);
  journal.ExpectCutStepsRefused();
}

TEST_F(TrustedSites, AttributesAndTemplates) {
  CaptureLogger log;
  EXPECT_EQ(Make("<AddTrustedSite/>")->Do(nullptr), NY_E_ATTR_MISSING);
  EXPECT_EQ(Make("<AddTrustedSite Url=''/>")->Do(nullptr), NY_E_INVALID_PARAM);
  EXPECT_TRUE(log.Contains("CNyActionAddTrustedSite::LoadConfig: Url in AddTrustedSite is: "));
  EXPECT_EQ(Make("<DelTrustedSite/>")->Do(nullptr), NY_E_ATTR_MISSING);
  EXPECT_EQ(Make("<DelTrustedSite Url=''/>")->Do(nullptr), NY_E_INVALID_PARAM);
  EXPECT_TRUE(log.Contains("CNyActionDelTrustedSite::LoadConfig: Url in xml is: "));
  EXPECT_EQ(SetTrustedZoneMapping(L"", false), NY_E_INVALID_PARAM);
  EXPECT_EQ(Describe(Make("<AddTrustedSite Url='https://a.test'/>")), "Add trusted site https://a.test");
  EXPECT_EQ(Describe(Make("<DelTrustedSite Url='https://a.test'/>")), "Delete trusted site https://a.test");
  EXPECT_EQ(DescribeWithoutTemplate("<AddTrustedSite Url='u'/>"), NY_E_NO_TEMPLATE);
  EXPECT_EQ(DescribeWithoutTemplate("<DelTrustedSite Url='u'/>"), NY_E_NO_TEMPLATE);
}

}  // namespace
