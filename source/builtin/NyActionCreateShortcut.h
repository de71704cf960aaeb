#pragma once
#include "NyAction.h"

// <CreateShortcut RootPath="folder" SubDirName="sub" Name="Uninstall" Src="target"
//                 Icon="icon file" CmdLine="arguments" Index="0"/>:
// creates RootPath\SubDirName and the shortcut Name.lnk to Src in it.
class CNyActionCreateShortcut : public CNyAction {
 public:
  explicit CNyActionCreateShortcut(CNyXmlConfigItem* pItem) : CNyAction(pItem) {}

 protected:
  const char* ClassName() const override { return "CNyActionCreateShortcut"; }
  const char* ElementName() const override { return "CreateShortcut"; }
  const char* SourceFile() const override;
  uint32_t ReadAttributes() override;
  void CompleteDescription(CNyString* pText) const override;
  uint32_t Execute(CNySetupInfo* pSetupInfo) override;

 private:
  CNyFsRedirectionOff m_redirection;
  CNyString m_rootPath, m_subDirName, m_name, m_src, m_icon, m_cmdLine;
  uint32_t m_u4Index = 0;
};
