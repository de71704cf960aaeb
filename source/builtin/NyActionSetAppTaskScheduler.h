#pragma once
#include "NyAction.h"

// <SetAppTaskScheduler Name="task" Type="Create|Delete|Run|End" AppPath="program"
//                      Param="parameters" Description="comment" Interval="minutes"/>:
// manages one named task of the system's task scheduler.
class CNyActionSetAppTaskScheduler : public CNyAction {
 public:
  explicit CNyActionSetAppTaskScheduler(CNyXmlConfigItem* pItem) : CNyAction(pItem) {}

 protected:
  const char* ClassName() const override { return "CNyActionTaskScheduler"; }
  const char* ElementName() const override { return "SetAppTaskScheduler"; }
  const char* SourceFile() const override;
  uint32_t ReadAttributes() override;
  void CompleteDescription(CNyString* pText) const override;
  uint32_t Execute(CNySetupInfo* pSetupInfo) override;

 private:
  CNyString m_name, m_type, m_param, m_appPath, m_description, m_interval;
  uint32_t m_u4Interval = 0;
};

// The leading decimal digits of an interval text (after blanks); 0 when
// there are none, the largest value when they overflow.
uint32_t ParseTaskInterval(const char* pszText);
