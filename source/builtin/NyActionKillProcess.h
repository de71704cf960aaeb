#pragma once
#include "NyAction.h"

// <KillProcess Name="path or file name"/> or <KillProcess Pid="1234"/>: ends
// every process started from a program file, or one process by its id.
class CNyActionKillProcess : public CNyAction {
 public:
  explicit CNyActionKillProcess(CNyXmlConfigItem* pItem) : CNyAction(pItem) {}

 protected:
  const char* ClassName() const override { return "CNyActionKillProcess"; }
  const char* ElementName() const override { return "KillProcess"; }
  const char* SourceFile() const override;
  uint32_t ReadAttributes() override;
  void CompleteDescription(CNyString* pText) const override;
  uint32_t Execute(CNySetupInfo* pSetupInfo) override;
  const CNyString* TargetPath() const override { return &m_name; }

 private:
  CNyFsRedirectionOff m_redirection;
  CNyString m_name;
  uint32_t m_u4Pid = 0;
};
