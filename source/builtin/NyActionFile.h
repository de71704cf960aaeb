#pragma once
#include "NyAction.h"

// <File Dest="..." Src="..." Register="true|false" CmpVer="true|false" os="os32|os64"/>
// Copies one file, or a folder's content when Src ends in '*' or '\'.
class CNyActionFile : public CNyAction {
 public:
  explicit CNyActionFile(CNyXmlConfigItem* pItem) : CNyAction(pItem) {}

 protected:
  const char* ClassName() const override { return "CNyActionFile"; }
  const char* ElementName() const override { return "File"; }
  const char* SourceFile() const override;
  uint32_t ReadAttributes() override;
  void CompleteDescription(CNyString* pText) const override;
  uint32_t Execute(CNySetupInfo* pSetupInfo) override;
  const CNyString* TargetPath() const override { return &m_dest; }
  const CNyString* OsAttribute() const override { return &m_os; }

 private:
  CNyFsRedirectionOff m_redirection;
  CNyString m_src, m_dest, m_os;
  uint32_t m_bRegister = 0, m_bCmpVer = 0;
};
