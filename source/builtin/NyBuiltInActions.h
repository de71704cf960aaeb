#pragma once
// The built-in actions of a setup script: each element name with its
// creator and the failure rule that decides whether a run goes on past it.
#include "NyActionFactory.h"

class CNyBuiltInActionFactory : public CNyActionFactory {
 public:
  CNyBuiltInActionFactory();
};
