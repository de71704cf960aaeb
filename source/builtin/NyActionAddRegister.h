#pragma once
#include "NyAction.h"

// <AddRegister Root="HKEY_..." SubKey="..." ValueName="..." ValueType="REG_SZ|REG_DWORD|REG_BINARY"
//              ValueData="..." Key64="true|false" os="os32|os64"/>: writes one value, creating its key path.
class CNyActionAddRegister : public CNyAction {
 public:
  explicit CNyActionAddRegister(CNyXmlConfigItem* pItem) : CNyAction(pItem) {}

 protected:
  const char* ClassName() const override { return "CNyActionAddRegister"; }
  const char* ElementName() const override { return "AddRegister"; }
  const char* SourceFile() const override;
  uint32_t ReadAttributes() override;
  void CompleteDescription(CNyString* pText) const override;
  uint32_t Execute(CNySetupInfo* pSetupInfo) override;
  const CNyString* OsAttribute() const override { return &m_os; }

 private:
  CNyFsRedirectionOff m_redirection;
  CNyString m_root, m_subKey, m_valueName, m_valueType, m_valueData, m_os;
  uint32_t m_b64Key = 0;
};
