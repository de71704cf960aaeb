// CNyXmlConfigScript: collection, expansion and look-ups, on small
// scripts, with a fixed built-in source.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "CaptureLogger.h"
#include "NyConfigScript.h"
#include "NyLanguage.h"
#include "NyResult.h"
#include "ScriptTestUtil.h"

namespace {

using nytest::FakeBuiltinSource;
using nytest::Value;

std::string Script(const std::string& body) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<Config name=\"T\">\r\n" + body + "\r\n</Config>\r\n";
}

std::string Localized(const std::string& name, const std::string& cn, const std::string& tw, const std::string& en) {
  std::string s = "<" + name + ">";
  if (!cn.empty()) s += "<zh_cn>" + cn + "</zh_cn>";
  if (!tw.empty()) s += "<zh_tw>" + tw + "</zh_tw>";
  if (!en.empty()) s += "<en_us>" + en + "</en_us>";
  return s + "</" + name + ">";
}

class ConfigScriptTest : public ::testing::Test {
 protected:
  uint32_t Load(const std::string& text, uint32_t u4Language = 1) {
    m_script.SetBuiltinSource(&m_source);
    const uint32_t u4Result = m_script.LoadFromMemory(text.data(), text.size());
    if (u4Result == NY_SUCCESS && u4Language != m_script.GetLanguage()) {
      // Language of the collection, without expanding yet.
      m_script.SetLanguage(u4Language);
    }
    return u4Result;
  }
  uint32_t LoadAndUpdate(const std::string& text, uint32_t u4Language = 1) {
    uint32_t u4Result = Load(text, u4Language);
    if (u4Result == NY_SUCCESS) u4Result = m_script.Update();
    return u4Result;
  }

  FakeBuiltinSource m_source{true};
  CNyXmlConfigScript m_script;
};

TEST_F(ConfigScriptTest, VariablesExpandPassAfterPass) {
  ASSERT_EQ(LoadAndUpdate(Script("<SetupInfo><A>$(B) x</A></SetupInfo>"
                                 "<CustomInfo><B>$(C)-$(C)</B><C>c</C><Empty/></CustomInfo>"
                                 "<Action name=\"L\"><File Src=\"$(A)\" Dest=\"$[dest]\"/></Action>")),
            NY_SUCCESS);
  EXPECT_EQ(Value(m_script, "A"), "c-c x");
  EXPECT_EQ(Value(m_script, "B"), "c-c");
  EXPECT_EQ(Value(m_script, "Empty"), "");
  EXPECT_EQ(Value(m_script, "Nothing"), "<missing>");
  std::unique_ptr<CNyXmlConfigItem> pList(m_script.GetItem("Action", "L"));
  ASSERT_NE(pList, nullptr);
  CNyString src;
  ASSERT_EQ(pList->GetChild(0)->GetAttribute("Src", &src), NY_SUCCESS);
  EXPECT_STREQ(src.GetText(), "c-c x");
  ASSERT_EQ(pList->GetChild(0)->GetAttribute("Dest", &src), NY_SUCCESS);
  EXPECT_STREQ(src.GetText(), "$[dest]");  // placeholders are left for the actions
}

TEST_F(ConfigScriptTest, UnknownVariableFailsEvenInsideAComment) {
  CaptureLogger log;
  ASSERT_EQ(Load(Script("<!-- <File Src=\"$(Nowhere)\"/> --><SetupInfo><A>a</A></SetupInfo>")), NY_SUCCESS);
  EXPECT_EQ(m_script.Update(), NY_E_INVALID_DATA);
  EXPECT_TRUE(log.Contains("CNyXmlConfigScript::Update()->Variable not found: Nowhere"));
  EXPECT_EQ(m_script.GetItem(nullptr, nullptr), nullptr);
}

TEST_F(ConfigScriptTest, OpenReferenceWithoutCloseIsAnInvalidScript) {
  CaptureLogger log;
  ASSERT_EQ(Load(Script("<SetupInfo><A>a</A></SetupInfo><!-- $( -->")), NY_SUCCESS);
  EXPECT_EQ(m_script.Update(), NY_E_INVALID_DATA);
  bool bFound = false;
  for (const auto& line : log.lines) {
    if (line.text == "CNyXmlConfigScript::Update()->Invalid script") {
      bFound = true;
      EXPECT_EQ(line.u4Level, LOG_LEVEL_OUTCOME);
    }
  }
  EXPECT_TRUE(bFound);
}

TEST_F(ConfigScriptTest, ValuesAreEntityEncodedWhenInserted) {
  ASSERT_EQ(LoadAndUpdate(Script("<CustomInfo><V>a &amp; b</V><W>&amp;lt;</W><Q>say \"hi\" &amp; 'bye' &lt;x&gt;</Q>"
                                 "</CustomInfo><SetupInfo><X>$(V)</X><Y>$(W)</Y></SetupInfo>"
                                 "<Action name=\"L\"><File Src=\"$(Q)\" Dest='$(Q)'/></Action>")),
            NY_SUCCESS);
  EXPECT_EQ(Value(m_script, "V"), "a & b");
  EXPECT_EQ(Value(m_script, "X"), "a & b");
  // "&lt;" is inserted unchanged, so it reads back as "<".
  EXPECT_EQ(Value(m_script, "W"), "&lt;");
  EXPECT_EQ(Value(m_script, "Y"), "<");
  std::unique_ptr<CNyXmlConfigItem> pList(m_script.GetItem("Action", "L"));
  ASSERT_NE(pList, nullptr);
  CNyString value;
  ASSERT_EQ(pList->GetChild(0)->GetAttribute("Src", &value), NY_SUCCESS);
  EXPECT_STREQ(value.GetText(), "say \"hi\" & 'bye' <x>");
  ASSERT_EQ(pList->GetChild(0)->GetAttribute("Dest", &value), NY_SUCCESS);
  EXPECT_STREQ(value.GetText(), "say \"hi\" & 'bye' <x>");
}

TEST_F(ConfigScriptTest, LaterDefinitionWins) {
  ASSERT_EQ(LoadAndUpdate(Script("<SetupInfo><X>one</X><Z>$(X)</Z></SetupInfo><CustomInfo><X>two</X></CustomInfo>")),
            NY_SUCCESS);
  EXPECT_EQ(Value(m_script, "X"), "two");
  EXPECT_EQ(Value(m_script, "Z"), "two");
}

TEST_F(ConfigScriptTest, ScriptVariableReplacesABuiltIn) {
  ASSERT_EQ(Load(Script("<CustomInfo><win>mine</win><W>$(win)</W><P>$(pf32)</P></CustomInfo>")), NY_SUCCESS);
  ASSERT_TRUE(m_script.InitVariables("C:\\src"));
  ASSERT_EQ(m_script.Update(), NY_SUCCESS);
  EXPECT_EQ(Value(m_script, "win"), "mine");
  EXPECT_EQ(Value(m_script, "W"), "mine");
  EXPECT_EQ(Value(m_script, "P"), "C:\\Program Files (x86)");
}

TEST_F(ConfigScriptTest, MissingLanguageChildLeavesTheVariableUndefined) {
  // Load collects in the system's language: leave out that language's child.
  const uint32_t u4System = GetSystemLanguageCode();
  const std::string system = NyLanguageName(u4System);
  const std::string entry = Localized("S", system == "zh_cn" ? "" : "cn", system == "zh_tw" ? "" : "tw",
                                      system == "en_us" ? "" : "en");
  const std::string text = Script("<CustomString>" + entry + "</CustomString><SetupInfo><R>$(S)</R></SetupInfo>");
  CaptureLogger log;
  ASSERT_EQ(m_script.LoadFromMemory(text.data(), text.size()), NY_SUCCESS);
  EXPECT_EQ(m_script.Update(), NY_E_INVALID_DATA);
  EXPECT_TRUE(log.Contains("CNyXmlConfigScript::Update()->Variable not found: S"));
  if (system != "zh_cn") {
    EXPECT_EQ(m_script.SetLanguage(0), NY_SUCCESS);
    EXPECT_EQ(Value(m_script, "R"), "cn");
  }
  if (system != "zh_tw") {
    EXPECT_EQ(m_script.SetLanguage(2), NY_SUCCESS);
    EXPECT_EQ(Value(m_script, "R"), "tw");
  }
}

TEST_F(ConfigScriptTest, GermanUsesTheEnglishStringsAndLanguageSeven) {
  const std::string text = Script("<CustomString>" + Localized("S", "cn", "tw", "en") +
                                  "</CustomString><ActionDescString>" + Localized("File", "c", "t", "Copy $[src]") +
                                  "</ActionDescString><SetupInfo><L>$(language)</L><R>$(S)</R></SetupInfo>"
                                  "<Action name=\"L\"><File/></Action>");
  ASSERT_EQ(Load(text), NY_SUCCESS);
  ASSERT_TRUE(m_script.InitVariables("C:\\src"));
  EXPECT_EQ(m_script.SetLanguage(7), NY_SUCCESS);
  EXPECT_EQ(m_script.GetLanguage(), 7u);
  EXPECT_EQ(Value(m_script, "language"), "7");
  EXPECT_EQ(Value(m_script, "L"), "7");
  EXPECT_EQ(Value(m_script, "R"), "en");
  EXPECT_EQ(Value(m_script, "File"), "Copy $[src]");
  EXPECT_EQ(m_script.GetUInt("language"), 7u);
  std::unique_ptr<CNyXmlConfigItem> pDesc(m_script.GetItem("ActionDescString", nullptr));
  ASSERT_NE(pDesc, nullptr);
  CNyString text7;
  ASSERT_EQ(pDesc->FindChild("File")->GetText(&text7), NY_SUCCESS);
  EXPECT_STREQ(text7.GetText(), "Copy $[src]");
}

TEST_F(ConfigScriptTest, DeclarationAndConfigAreRequired) {
  CaptureLogger log;
  const std::string noDeclaration = "<Config><SetupInfo><A>a</A></SetupInfo></Config>";
  EXPECT_EQ(m_script.LoadFromMemory(noDeclaration.data(), noDeclaration.size()), NY_E_INVALID_DATA);
  EXPECT_TRUE(log.Contains("NyXmlGetEncoding()->The xml document has no declaration!"));
  EXPECT_EQ(m_script.Update(), NY_E_INVALID_DATA);

  const std::string noConfig = "<?xml version=\"1.0\" encoding=\"UTF-8\"?><Konfig/>";
  EXPECT_EQ(m_script.LoadFromMemory(noConfig.data(), noConfig.size()), NY_E_INVALID_DATA);
  EXPECT_EQ(m_script.Update(), NY_E_INVALID_DATA);

  const std::string unknownEncoding = "<?xml version=\"1.0\" encoding=\"latin1\"?><Config/>";
  EXPECT_EQ(m_script.LoadFromMemory(unknownEncoding.data(), unknownEncoding.size()), NY_E_INVALID_PARAM);

  const std::string broken = "<?xml version=\"1.0\" encoding=\"UTF-8\"?><Config>";
  EXPECT_EQ(m_script.LoadFromMemory(broken.data(), broken.size()), NY_E_XML_PARSE);

  const std::string minimal = "<?xml version=\"1.0\" encoding=\"UTF-8\"?><Config/>";
  EXPECT_EQ(m_script.LoadFromMemory(minimal.data(), minimal.size()), NY_SUCCESS);
  EXPECT_EQ(m_script.Update(), NY_SUCCESS);
}

TEST_F(ConfigScriptTest, ByteOrderMarksAreDropped) {
  const std::string text = Script("<SetupInfo><A>a</A></SetupInfo>");
  const std::string utf8 = "\xEF\xBB\xBF" + text;
  ASSERT_EQ(m_script.LoadFromMemory(utf8.data(), utf8.size()), NY_SUCCESS);
  ASSERT_EQ(m_script.Update(), NY_SUCCESS);
  EXPECT_EQ(Value(m_script, "A"), "a");
  const std::string ffFe = "\xFF\xFE" + text;
  ASSERT_EQ(m_script.LoadFromMemory(ffFe.data(), ffFe.size()), NY_SUCCESS);
}

TEST_F(ConfigScriptTest, GetItemMatchesExactly) {
  ASSERT_EQ(LoadAndUpdate(Script("<Action name=\"Insall\"><File/><File/></Action>"
                                 "<Action><DelFile/></Action>"
                                 "<Action name=\"Uninstall\"><DelDir/></Action>"
                                 "<Other name=\"Uninstall\"/>")),
            NY_SUCCESS);
  std::unique_ptr<CNyXmlConfigItem> pItem(m_script.GetItem("Action", "Uninstall"));
  ASSERT_NE(pItem, nullptr);
  EXPECT_EQ(pItem->GetChildCount(), 1u);
  EXPECT_STREQ(pItem->GetChild(0)->GetName(), "DelDir");
  EXPECT_EQ(pItem->GetParent(), nullptr);
  EXPECT_EQ(pItem->GetLanguage(), m_script.GetLanguage());
  EXPECT_EQ(std::unique_ptr<CNyXmlConfigItem>(m_script.GetItem("Action", "uninstall")), nullptr);
  EXPECT_EQ(std::unique_ptr<CNyXmlConfigItem>(m_script.GetItem("Action", "Install")), nullptr);
  EXPECT_EQ(std::unique_ptr<CNyXmlConfigItem>(m_script.GetItem("action", "Insall")), nullptr);
  std::unique_ptr<CNyXmlConfigItem> pFirst(m_script.GetItem("Action", nullptr));
  ASSERT_NE(pFirst, nullptr);
  EXPECT_EQ(pFirst->GetChildCount(), 2u);
  std::unique_ptr<CNyXmlConfigItem> pAny(m_script.GetItem(nullptr, "Uninstall"));
  ASSERT_NE(pAny, nullptr);
  EXPECT_STREQ(pAny->GetName(), "Action");
  std::unique_ptr<CNyXmlConfigItem> pOther(m_script.GetItem("Other", nullptr));
  ASSERT_NE(pOther, nullptr);
}

TEST_F(ConfigScriptTest, GetItemListsAtMost128Children) {
  std::string body;
  for (int i = 0; i < 129; ++i) body += "<X/>";
  CaptureLogger log;
  ASSERT_EQ(LoadAndUpdate(Script(body)), NY_SUCCESS);
  EXPECT_EQ(m_script.GetItem("X", nullptr), nullptr);
  EXPECT_TRUE(log.Contains("u4Result = E0600005"));
}

TEST_F(ConfigScriptTest, BoolAndUIntReadings) {
  ASSERT_EQ(LoadAndUpdate(Script("<CustomInfo><T>true</T><U>TRUE</U><N>17</N><M>x</M></CustomInfo>")), NY_SUCCESS);
  EXPECT_TRUE(m_script.GetBool("T", false));
  EXPECT_FALSE(m_script.GetBool("U", true));  // letter case counts
  EXPECT_TRUE(m_script.GetBool("missing", true));
  EXPECT_FALSE(m_script.GetBool("N", true));
  EXPECT_EQ(m_script.GetUInt("N"), 17u);
  EXPECT_EQ(m_script.GetUInt("M"), 0u);
  EXPECT_EQ(m_script.GetUInt("missing"), 0u);
  CNyString value;
  EXPECT_EQ(m_script.GetValue("missing", &value), NY_E_NOT_FOUND);
}

TEST_F(ConfigScriptTest, SelfReferenceEndsAfterBoundedPasses) {
  CaptureLogger log;
  ASSERT_EQ(Load(Script("<CustomInfo><Loop>$(Loop)</Loop></CustomInfo>")), NY_SUCCESS);
  EXPECT_EQ(m_script.Update(), NY_E_INVALID_DATA);
  int nLines = 0;
  for (const auto& line : log.lines) {
    if (line.text.find("after 64 passes") != std::string::npos) {
      ++nLines;
      EXPECT_NE(line.text.find(": Loop"), std::string::npos) << line.text;
    }
  }
  EXPECT_EQ(nLines, 1);
  EXPECT_EQ(m_script.GetItem(nullptr, nullptr), nullptr);
}

TEST_F(ConfigScriptTest, MutualReferenceEndsToo) {
  CaptureLogger log;
  ASSERT_EQ(Load(Script("<CustomInfo><A>$(B)</A><B>x$(A)</B></CustomInfo>")), NY_SUCCESS);
  EXPECT_EQ(m_script.Update(), NY_E_INVALID_DATA);
  EXPECT_TRUE(log.Contains("(a loop?)"));
}

TEST_F(ConfigScriptTest, FastGrowingReferenceRunsOutOfRoom) {
  CaptureLogger log;
  ASSERT_EQ(Load(Script("<CustomInfo><G>$(G)$(G)</G></CustomInfo>")), NY_SUCCESS);
  EXPECT_EQ(m_script.Update(), NY_E_BUFFER_TOO_SMALL);
  EXPECT_TRUE(log.Contains("CNyXmlConfigScript::Update()->buffer tool small"));
}

TEST_F(ConfigScriptTest, LongVariableNamesAreRefused) {
  CaptureLogger log;
  const std::string name127(127, 'n');
  const std::string name128(128, 'n');
  ASSERT_EQ(Load(Script("<SetupInfo><A>$(" + name127 + ")</A></SetupInfo>")), NY_SUCCESS);
  EXPECT_EQ(m_script.Update(), NY_E_INVALID_DATA);
  EXPECT_TRUE(log.Contains("Variable not found: " + name127));
  log.lines.clear();
  ASSERT_EQ(Load(Script("<SetupInfo><" + name128 + ">v</" + name128 + "><A>$(" + name128 + ")</A></SetupInfo>")),
            NY_SUCCESS);
  EXPECT_EQ(m_script.Update(), NY_E_INVALID_DATA);
  EXPECT_TRUE(log.Contains("Variable name too long (128 bytes, at most 127)"));
  // A long name between "$(" and a ")" far away.
  ASSERT_EQ(Load(Script("<SetupInfo><A>$(" + std::string(5000, 'x') + ")</A></SetupInfo>")), NY_SUCCESS);
  EXPECT_EQ(m_script.Update(), NY_E_INVALID_DATA);
}

TEST_F(ConfigScriptTest, FailedUpdateKeepsThePreviousValues) {
  // The zh_tw string refers to itself: fine as text, endless as a value.
  ASSERT_EQ(LoadAndUpdate(Script("<CustomString>" + Localized("S", "cn", "$(S)", "en") +
                                 "</CustomString><SetupInfo><R>$(S)</R></SetupInfo>"),
                          1),
            NY_SUCCESS);
  EXPECT_EQ(Value(m_script, "R"), "en");
  EXPECT_EQ(m_script.SetLanguage(2), NY_E_INVALID_DATA);
  EXPECT_EQ(m_script.GetItem(nullptr, nullptr), nullptr);
  EXPECT_EQ(Value(m_script, "R"), "en");
  EXPECT_EQ(m_script.SetLanguage(0), NY_SUCCESS);
  EXPECT_EQ(Value(m_script, "R"), "cn");
  std::unique_ptr<CNyXmlConfigItem> pItem(m_script.GetItem("SetupInfo", nullptr));
  EXPECT_NE(pItem, nullptr);
}

TEST_F(ConfigScriptTest, ResetEmptiesTheScript) {
  ASSERT_EQ(LoadAndUpdate(Script("<SetupInfo><A>a</A></SetupInfo>"), 0), NY_SUCCESS);
  EXPECT_EQ(m_script.GetEncoding(), 0);
  EXPECT_EQ(m_script.GetCodePage(), 65001u);
  m_script.Reset();
  EXPECT_EQ(m_script.GetEncoding(), -1);
  EXPECT_EQ(m_script.GetLanguage(), GetSystemLanguageCode());
  EXPECT_EQ(Value(m_script, "A"), "<missing>");
  EXPECT_EQ(m_script.GetItem(nullptr, nullptr), nullptr);
  EXPECT_EQ(m_script.Update(), NY_E_INVALID_DATA);
}

TEST_F(ConfigScriptTest, LoadFromAMissingFile) {
  CaptureLogger log;
  EXPECT_EQ(m_script.Load("no such folder/no such script.xml"), 2u);
  EXPECT_TRUE(log.Contains("u4Result = 00000002"));
}

// --- Built-in variables ------------------------------------------------------

const char* const kBuiltIns[] = {"pf32",         "pf",          "pf64",          "sys32",      "sys",
                                 "sys64",        "win",         "userappdata",   "commonappdata", "usercommon",
                                 "userprograms", "commonprograms", "srcroot",   "userdesktop", "commondesktop",
                                 "srcexe",       "language"};

std::string AllBuiltInsScript() {
  std::string body = "<CustomInfo>";
  for (const char* pszName : kBuiltIns) body += std::string("<X_") + pszName + ">$(" + pszName + ")</X_" + pszName + ">";
  return Script(body + "</CustomInfo>");
}

TEST_F(ConfigScriptTest, BuiltInsOfA64BitSystem) {
  m_source.folders[NY_CSIDL_PROGRAM_FILES] = L"C:\\Program Files (x86)";
  m_source.folders[NY_CSIDL_SYSTEMX86] = L"C:\\Windows\\System32";
  m_source.folders[NY_CSIDL_SYSTEM] = L"C:\\Windows\\SysWow64";
  ASSERT_EQ(Load(AllBuiltInsScript()), NY_SUCCESS);
  ASSERT_TRUE(m_script.InitVariables("C:\\Temp\\NyKeyPackage_0000ABCD"));
  ASSERT_EQ(m_script.Update(), NY_SUCCESS);
  EXPECT_EQ(Value(m_script, "X_pf32"), "C:\\Program Files (x86)");
  EXPECT_EQ(Value(m_script, "X_pf"), "C:\\Program Files (x86)");
  EXPECT_EQ(Value(m_script, "X_pf64"), "C:\\Program Files");
  EXPECT_EQ(Value(m_script, "X_sys32"), "C:\\Windows\\SysWow64");
  EXPECT_EQ(Value(m_script, "X_sys"), "C:\\Windows\\SysWow64");
  EXPECT_EQ(Value(m_script, "X_sys64"), "C:\\Windows\\System32");
  EXPECT_EQ(Value(m_script, "X_win"), "C:\\Windows");
  EXPECT_EQ(Value(m_script, "X_usercommon"), "C:\\Users\\Public");
  EXPECT_EQ(Value(m_script, "X_commondesktop"), "C:\\Users\\Public\\Desktop");
  EXPECT_EQ(Value(m_script, "X_srcroot"), "C:\\Temp\\NyKeyPackage_0000ABCD");
  EXPECT_EQ(Value(m_script, "X_srcexe"), "C:\\Temp\\Setup.exe");
  EXPECT_EQ(Value(m_script, "X_language"), "1");
  EXPECT_EQ(Value(m_script, "sys32"), "C:\\Windows\\SysWow64");  // read back directly too
  // Redirection is off while the folders are read, and back on afterwards.
  EXPECT_EQ(m_source.nDisable, 1);
  EXPECT_EQ(m_source.nRevert, 1);
  EXPECT_EQ(m_source.nReadsWithRedirection, 0);
  // "system32" in lower case is replaced too.
  m_source.folders[NY_CSIDL_SYSTEMX86] = L"C:\\windows\\system32";
  ASSERT_TRUE(m_script.InitVariables("C:\\src"));
  EXPECT_EQ(Value(m_script, "sys32"), "C:\\windows\\SysWow64");
}

TEST_F(ConfigScriptTest, BuiltInsOfA32BitSystem) {
  FakeBuiltinSource source32(false);
  m_script.SetBuiltinSource(&source32);
  const std::string text = AllBuiltInsScript();
  ASSERT_EQ(m_script.LoadFromMemory(text.data(), text.size()), NY_SUCCESS);
  ASSERT_TRUE(m_script.InitVariables("C:\\src"));
  ASSERT_EQ(m_script.Update(), NY_SUCCESS);
  for (const char* pszName : {"X_pf32", "X_pf", "X_pf64"}) EXPECT_EQ(Value(m_script, pszName), "C:\\Program Files");
  for (const char* pszName : {"X_sys32", "X_sys", "X_sys64"}) {
    EXPECT_EQ(Value(m_script, pszName), "C:\\Windows\\system32");
  }
  EXPECT_EQ(source32.nDisable + source32.nRevert, 0);
}

TEST_F(ConfigScriptTest, InitVariablesStopsAtTheFirstFailure) {
  CaptureLogger log;
  ASSERT_EQ(Load(Script("")), NY_SUCCESS);
  EXPECT_FALSE(m_script.InitVariables(nullptr));
  EXPECT_FALSE(m_script.InitVariables(""));
  m_source.failing[NY_CSIDL_WINDOWS] = 0x80004005;
  EXPECT_FALSE(m_script.InitVariables("C:\\src"));
  EXPECT_TRUE(log.Contains("u4Result = 80004005"));
  EXPECT_EQ(Value(m_script, "sys64"), "C:\\Windows\\system32");  // set before the failure
  EXPECT_EQ(Value(m_script, "win"), "<missing>");
  EXPECT_EQ(Value(m_script, "srcroot"), "<missing>");
  EXPECT_EQ(m_source.nDisable, m_source.nRevert);  // switched back on the failure path too
  // A common desktop folder without a parent.
  m_source.failing.clear();
  m_source.folders[NY_CSIDL_COMMON_DESKTOPDIRECTORY] = L"Desktop";
  EXPECT_FALSE(m_script.InitVariables("C:\\src"));
  EXPECT_TRUE(log.Contains("GetParentDirPath() error!! path=Desktop"));
}

// --- Free routines -----------------------------------------------------------

std::string Encode(const char* pszText) {
  size_t cb = 0;
  EXPECT_EQ(XmlEntityEncode(pszText, nullptr, &cb), NY_SUCCESS);
  std::string out(cb, '?');
  EXPECT_EQ(XmlEntityEncode(pszText, &out[0], &cb), NY_SUCCESS);
  EXPECT_EQ(out.back(), '\0');
  out.pop_back();
  return out;
}

TEST(XmlEntityEncode, EscapesOnlyWhatIsNotAlreadyAnEntity) {
  EXPECT_EQ(Encode("a & b"), "a &amp; b");
  EXPECT_EQ(Encode("&lt;"), "&lt;");
  EXPECT_EQ(Encode("&amp;&gt;&quot;&apos;"), "&amp;&gt;&quot;&apos;");
  EXPECT_EQ(Encode("&am"), "&amp;am");
  EXPECT_EQ(Encode("&#65;"), "&amp;#65;");
  EXPECT_EQ(Encode("<\"x\">'"), "&lt;&quot;x&quot;&gt;&apos;");
  EXPECT_EQ(Encode(""), "");
  EXPECT_EQ(Encode("&"), "&amp;");
  size_t cb = 3;
  char out[3];
  EXPECT_EQ(XmlEntityEncode("&", out, &cb), NY_E_BUFFER_TOO_SMALL);
  EXPECT_EQ(cb, 6u);
  EXPECT_EQ(XmlEntityEncode(nullptr, out, &cb), NY_E_INVALID_PARAM);
}

TEST(GetParentDirPath, CutsBeforeTheLastBackslash) {
  CaptureLogger log;
  CNyString parent;
  EXPECT_EQ(GetParentDirPath(CNyString(L"C:\\Users\\Public\\Desktop"), &parent), NY_SUCCESS);
  EXPECT_STREQ(parent.GetText(), "C:\\Users\\Public");
  EXPECT_EQ(GetParentDirPath(CNyString(L"C:\\Users\\Public\\"), &parent), NY_SUCCESS);
  EXPECT_STREQ(parent.GetText(), "C:\\Users");
  EXPECT_EQ(GetParentDirPath(CNyString(L"C:\\"), &parent), NY_E_INVALID_PARAM);
  EXPECT_EQ(GetParentDirPath(CNyString(L"name"), &parent), NY_E_INVALID_PARAM);
  EXPECT_TRUE(log.Contains("GetParentDirPath() error!! path=name"));
  EXPECT_EQ(GetParentDirPath(CNyString(), &parent), NY_E_INVALID_PARAM);
  const std::wstring w259 = L"C:\\" + std::wstring(256, L'a');
  EXPECT_EQ(GetParentDirPath(CNyString(w259.c_str()), &parent), NY_SUCCESS);
  EXPECT_STREQ(parent.GetText(), "C:");
  const std::wstring w260 = w259 + L"a";
  EXPECT_EQ(GetParentDirPath(CNyString(w260.c_str()), &parent), NY_E_INVALID_PARAM);
}

}  // namespace
