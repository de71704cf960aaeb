#pragma once
// Turns an element of an action list into its action object by the
// element's name: exact, case-sensitive, in registration order. The factory
// starts empty; whoever holds it registers the actions it knows.
#include <cstdint>

#include "NyAction.h"

using ActionCreatorFunc = INyAction* (*)(CNyXmlConfigItem* pItem);

// What a failed action of a kind does to a run: it stops it, it passes, or
// it passes when what it was to remove is already gone (code 2).
enum class NyActionFailure : uint32_t { Stops, Passes, PassesIfGone };

// Whether a run goes on after an action of the rule returned this code.
bool ActionFailureMayPass(NyActionFailure rule, uint32_t u4Result);

struct ActionRegistration {
  char szName[65];
  ActionCreatorFunc pfnCreator;
  NyActionFailure failure;
};

// Slots: 0 destructor, 1 AddRef, 2 Release, 3 CreateAction.
class INyActionFactory : public CNyObject {
 public:
  virtual INyAction* CreateAction(CNyXmlConfigItem* pItem) = 0;
};

class CNyActionFactory : public INyActionFactory {
 public:
  static constexpr uint32_t MaxCount = 256;

  INyAction* CreateAction(CNyXmlConfigItem* pItem) override;
  // Adds a row; false (and a log line) when the table is full or the name
  // or creator is missing. No duplicate check: the first row wins.
  bool AddNyAction(const char* pszName, ActionCreatorFunc pfnCreator,
                   NyActionFailure failure = NyActionFailure::Stops);
  // The failure rule of the kind; an unknown name stops a run.
  NyActionFailure FailureRule(const char* pszName) const;

 private:
  uint32_t m_u4Count = 0;
  ActionRegistration m_table[MaxCount] = {};
};
