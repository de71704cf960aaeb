#pragma once
#include "NyAction.h"

// <StartProcess Src="program" CmdLine="parameters" Silent="true|false" Wait="true|false"/>:
// starts a program through the shell, hidden and waited for by default.
class CNyActionStartProcess : public CNyAction {
 public:
  explicit CNyActionStartProcess(CNyXmlConfigItem* pItem) : CNyAction(pItem) {}

 protected:
  const char* ClassName() const override { return "CNyActionStartProcess"; }
  const char* ElementName() const override { return "StartProcess"; }
  const char* SourceFile() const override;
  uint32_t ReadAttributes() override;
  void CompleteDescription(CNyString* pText) const override;
  uint32_t Execute(CNySetupInfo* pSetupInfo) override;

 private:
  CNyString m_src, m_cmdLine;
  uint32_t m_bSilent = 1, m_bWait = 1;
};
