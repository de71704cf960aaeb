#pragma once
// Turns an element of an action list into its action object by the
// element's name: exact, case-sensitive, in registration order.
#include <cstdint>

#include "NyAction.h"

using ActionCreatorFunc = INyAction* (*)(CNyXmlConfigItem* pItem);

struct ActionRegistration {
  char szName[65];
  ActionCreatorFunc pfnCreator;
};

// Slots: 0 destructor, 1 AddRef, 2 Release, 3 CreateAction.
class INyActionFactory : public CNyObject {
 public:
  virtual INyAction* CreateAction(CNyXmlConfigItem* pItem) = 0;
};

class CNyActionFactory : public INyActionFactory {
 public:
  static constexpr uint32_t MaxCount = 256;

  // Registers the built-in actions.
  CNyActionFactory();
  INyAction* CreateAction(CNyXmlConfigItem* pItem) override;
  // Adds a row; false (and a log line) when the table is full or the name
  // or creator is missing. No duplicate check: the first row wins.
  bool AddNyAction(const char* pszName, ActionCreatorFunc pfnCreator);

 private:
  uint32_t m_u4Count = 0;
  ActionRegistration m_table[MaxCount] = {};
};
