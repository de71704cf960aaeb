#include "NyBuiltInActions.h"

#include <new>

#include "NyActionAddRegister.h"
#include "NyActionAddTrustedSite.h"
#include "NyActionCreateShortcut.h"
#include "NyActionDelRegister.h"
#include "NyActionDelTrustedSite.h"
#include "NyActionDeleteDir.h"
#include "NyActionDeleteFile.h"
#include "NyActionFile.h"
#include "NyActionKillProcess.h"
#include "NyActionRegCertFile.h"
#include "NyActionRunRegFile.h"
#include "NyActionSetAppTaskScheduler.h"
#include "NyActionStartProcess.h"
#include "NyActionUnRegCert.h"

namespace {

template <typename T>
INyAction* Create(CNyXmlConfigItem* pItem) {
  return new (std::nothrow) T(pItem);
}

struct BuiltIn {
  const char* pszName;
  ActionCreatorFunc pfnCreator;
  NyActionFailure failure;
};

// Registration order is lookup order.
const BuiltIn kBuiltIns[] = {
    {"KillProcess", Create<CNyActionKillProcess>, NyActionFailure::Passes},
    {"StartProcess", Create<CNyActionStartProcess>, NyActionFailure::Stops},
    {"File", Create<CNyActionFile>, NyActionFailure::Stops},
    {"DelFile", Create<CNyActionDeleteFile>, NyActionFailure::Stops},
    {"DelDir", Create<CNyActionDeleteDir>, NyActionFailure::Stops},
    {"CreateShortcut", Create<CNyActionCreateShortcut>, NyActionFailure::Stops},
    {"AddRegister", Create<CNyActionAddRegister>, NyActionFailure::Stops},
    {"RunRegFile", Create<CNyActionRunRegFile>, NyActionFailure::Stops},
    {"DelRegister", Create<CNyActionDelRegister>, NyActionFailure::PassesIfGone},
    {"AddTrustedSite", Create<CNyActionAddTrustedSite>, NyActionFailure::Passes},
    {"DelTrustedSite", Create<CNyActionDelTrustedSite>, NyActionFailure::Passes},
    {"RegCertFile", Create<CNyActionRegCertFile>, NyActionFailure::Stops},
    {"UnRegCert", Create<CNyActionUnRegCert>, NyActionFailure::Stops},
    {"SetAppTaskScheduler", Create<CNyActionSetAppTaskScheduler>, NyActionFailure::Passes},
};

}  // namespace

CNyBuiltInActionFactory::CNyBuiltInActionFactory() {
  for (const BuiltIn& row : kBuiltIns) AddNyAction(row.pszName, row.pfnCreator, row.failure);
}
