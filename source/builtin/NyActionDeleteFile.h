#pragma once
#include "NyAction.h"

// <DelFile Src="..." Unregister="true|false" os="os32|os64"/>: deletes one
// file, or leaves it to the next restart when it is in use.
class CNyActionDeleteFile : public CNyAction {
 public:
  explicit CNyActionDeleteFile(CNyXmlConfigItem* pItem) : CNyAction(pItem) {}

 protected:
  const char* ClassName() const override { return "CNyActionDeleteFile"; }
  const char* ElementName() const override { return "DelFile"; }
  const char* SourceFile() const override;
  uint32_t ReadAttributes() override;
  void CompleteDescription(CNyString* pText) const override;
  uint32_t Execute(CNySetupInfo* pSetupInfo) override;
  const CNyString* TargetPath() const override { return &m_src; }
  const CNyString* OsAttribute() const override { return &m_os; }

 private:
  CNyFsRedirectionOff m_redirection;
  CNyString m_src, m_os;
  uint32_t m_bUnregister = 0;
};
