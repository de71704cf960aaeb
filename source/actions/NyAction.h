#pragma once
// The contract of every action of a setup script's action list, and the
// frame its operations share: attributes read once and lazily, a description
// built from a localized template, the os filter, and the log lines around
// every operation.
#include <cstdint>

#include "NyObject.h"
#include "NyString.h"
#include "NySystem_Win.h"

class CNyXmlConfigItem;
class CNySetupInfo;

// Slots: 0 destructor, 1 AddRef, 2 Release, 3 LoadConfig, 4 GetDescription, 5 Do.
class INyAction : public CNyObject {
 public:
  // Reads the attributes; only bForce == 1 reads them again once loaded.
  virtual uint32_t LoadConfig(uint32_t bForce) = 0;
  // The action's template under descRoot, placeholders replaced, suffixes added.
  virtual uint32_t GetDescription(CNyXmlConfigItem* pDescRoot, CNySetupInfo* pSetupInfo, CNyString* pText) = 0;
  virtual uint32_t Do(CNySetupInfo* pSetupInfo) = 0;
};

class CNyAction : public INyAction {
 public:
  uint32_t LoadConfig(uint32_t bForce) final;
  uint32_t GetDescription(CNyXmlConfigItem* pDescRoot, CNySetupInfo* pSetupInfo, CNyString* pText) final;
  uint32_t Do(CNySetupInfo* pSetupInfo) final;

 protected:
  explicit CNyAction(CNyXmlConfigItem* pConfigItem) : m_pConfigItem(pConfigItem) {}

  // The class name in log lines ("CNyActionFile"), the element and template
  // name ("File"), and the source file named in the action's log records.
  virtual const char* ClassName() const = 0;
  virtual const char* ElementName() const = 0;
  virtual const char* SourceFile() const = 0;
  // Reads the attributes in the action's order; the first failing required
  // attribute's code ends the reading.
  virtual uint32_t ReadAttributes() = 0;
  // Replaces the action's placeholders in the template text and appends its
  // suffixes.
  virtual void CompleteDescription(CNyString* pText) const = 0;
  // The action's own work, after the frame has loaded the attributes and
  // applied the os filter.
  virtual uint32_t Execute(CNySetupInfo* pSetupInfo) = 0;
  // The action's os attribute, or null for an action that ignores it.
  virtual const CNyString* OsAttribute() const { return nullptr; }
  // The file or folder the action writes or removes, or null. An action
  // whose target lies in the 32-bit system folder of a 64-bit system without
  // the 32-bit subsystem is skipped: there is nothing of it to act on, and a
  // copy would make a SysWOW64 folder that nothing can use.
  virtual const CNyString* TargetPath() const { return nullptr; }
  // False for an action whose Do logs no entry and end lines of its own,
  // only the code of a failure.
  virtual bool LogsDoFrame() const { return true; }

  // Attribute readers for ReadAttributes: each echoes the value in the
  // action's log ("%s: <what> in xml is: %s").
  uint32_t ReadRequired(const char* pszName, CNyString* pValue, const char* pszEcho);
  uint32_t ReadOptional(const char* pszName, CNyString* pValue, const char* pszEcho);
  bool ReadBool(const char* pszName, bool bDefault);
  void Log(uint32_t u4Level, int nLine, const char* pszFormat, ...) const
#if defined(__GNUC__)
      __attribute__((format(printf, 4, 5)))
#endif
      ;

  CNyXmlConfigItem* m_pConfigItem;
  uint32_t m_bLoaded = 0;

 private:
  // "Class::Operation" for the frame's log lines.
  void QualifiedName(const char* pszOperation, char* pszName, size_t cchName) const;
};

// True when an action with this os attribute runs on this system: an empty
// value runs everywhere, "os64" only on 64-bit systems, "os32" only on
// 32-bit ones; anything else (OS64, x64) never runs.
bool ApplyOsFilter(const CNyString& os);
