#pragma once
#include "NyAction.h"

// <DelDir Src="..." CheckIsEmpty="true|false"/>: deletes a folder tree; with
// CheckIsEmpty (the default) only an empty folder.
class CNyActionDeleteDir : public CNyAction {
 public:
  explicit CNyActionDeleteDir(CNyXmlConfigItem* pItem) : CNyAction(pItem) {}

 protected:
  const char* ClassName() const override { return "CNyActionDeleteDir"; }
  const char* ElementName() const override { return "DelDir"; }
  const char* SourceFile() const override;
  uint32_t ReadAttributes() override;
  void CompleteDescription(CNyString* pText) const override;
  uint32_t Execute(CNySetupInfo* pSetupInfo) override;
  const CNyString* TargetPath() const override { return &m_src; }

 private:
  CNyFsRedirectionOff m_redirection;
  CNyString m_src;
  uint32_t m_bCheckIsEmpty = 1;
};
