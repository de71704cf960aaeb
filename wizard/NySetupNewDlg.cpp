#include "NySetupNewDlg.h"

#include <commctrl.h>

#include "NyLog.h"
#include "NyData.h"
#include "NyPackageCheck.h"
#include "NySetupExec.h"
#include "NySetupProgress.h"
#include "resource.h"

namespace {

// Posted by the worker when the run has ended; wParam is its result.
constexpr UINT WM_NY_RUN_DONE = WM_APP + 1;

const wchar_t kTitleWelcomeInstall[] = L"Welcome to Zorvak Smart Card Minidriver Setup Wizard";
const wchar_t kTitleWelcomeUninstall[] = L"Welcome to Zorvak Smart Card Minidriver Uninstall Wizard";
const wchar_t kTitleDoneInstall[] = L"Completed Zorvak Smart Card Minidriver Setup Wizard";
const wchar_t kTitleDoneUninstall[] = L"Completed Zorvak Smart Card Minidriver Uninstall Wizard";

WizardEnd EndOfFailedPreparation(const CNySetupExec* pExec) {
  return pExec->LastResult() == NY_E_PACKAGE_DAMAGED ? WIZARD_END_DAMAGED : WIZARD_END_NOT_PREPARED;
}

}  // namespace

bool IsUnattendedRun(CNySetupExec* pExec) { return pExec->IsSilent() != 0; }

WizardEnd RunUnattended(CNySetupExec* pExec) {
  WizardEnd end = WIZARD_END_NOT_PREPARED;
  if (!pExec->HandleSetupResources(136, L"\\PackageFiles\\SetupScript.xml", FALSE)) {
    NYLOG(LOG_LEVEL_OUTCOME, "%s Faild", "SingletonNySetupExec::GetInstance()->HandleSetupResources()");
    end = EndOfFailedPreparation(pExec);
  } else if (!pExec->SetInstance(nullptr)) {
    end = WIZARD_END_OTHER_INSTANCE;
  } else {
    end = pExec->RunActionList(OnUnattendedProgress, nullptr) ? WIZARD_END_SUCCEEDED : WIZARD_END_FAILED;
    pExec->RunFinishList();
  }
  // Whatever happened, nothing of the run stays behind.
  pExec->Clear();
  return end;
}

bool CNySetupNewDlg::SetTextFromScript(int nId, const char* pszKey) {
  CNyString text;
  const bool bFound = m_pExec->GetStringValue(pszKey, &text) != FALSE;
  SetDlgItemTextW(m_hDlg, nId, text.GetWide());
  return bFound;
}

CNySetupNewDlg::CNySetupNewDlg(CNySetupExec* pExec)
    : m_pExec(pExec), m_hIcon(LoadIconW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDR_MAINFRAME))) {}

CNySetupNewDlg::~CNySetupNewDlg() {
  if (m_worker) WaitForSingleObject(m_worker.Get(), INFINITE);
}

INT_PTR CNySetupNewDlg::DoModal() {
  return DialogBoxParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_NYSETUPNEW_DIALOG), nullptr, DialogProc,
                         reinterpret_cast<LPARAM>(this));
}

bool CNySetupNewDlg::IsInstallMode() const { return m_pExec->GetSetupMode() == SETUP_MODE_INSTALL; }

INT_PTR CALLBACK CNySetupNewDlg::DialogProc(HWND hDlg, UINT uMsg, WPARAM wParam, LPARAM lParam) {
  if (uMsg == WM_INITDIALOG) {
    auto* pSelf = reinterpret_cast<CNySetupNewDlg*>(lParam);
    SetWindowLongPtrW(hDlg, DWLP_USER, lParam);
    pSelf->m_hDlg = hDlg;
    return pSelf->OnInitDialog();
  }
  auto* pSelf = reinterpret_cast<CNySetupNewDlg*>(GetWindowLongPtrW(hDlg, DWLP_USER));
  if (pSelf == nullptr) return FALSE;
  switch (uMsg) {
    case WM_COMMAND:
      pSelf->OnCommand(LOWORD(wParam));
      return TRUE;
    case WM_NY_RUN_DONE:
      pSelf->OnRunDone(static_cast<BOOL>(wParam));
      return TRUE;
    case WM_NY_ROLLING_BACK:
      pSelf->OnRollingBack();
      return TRUE;
    case WM_CLOSE: {
      // Closing is refused while actions or the finish list run; closing the
      // finish page skips the finish list.
      const int nState = pSelf->m_uiState.load();
      if (nState == UI_BUSY) return TRUE;
      EndDialog(hDlg, nState == UI_IDLE ? WIZARD_END_CANCELLED : pSelf->RunEnd());
      return TRUE;
    }
    case WM_CTLCOLORSTATIC:
      SetBkColor(reinterpret_cast<HDC>(wParam), RGB(255, 255, 255));
      return reinterpret_cast<INT_PTR>(GetStockObject(WHITE_BRUSH));
    case WM_PAINT:
      if (IsIconic(hDlg)) {
        PAINTSTRUCT ps;
        HDC hdc = BeginPaint(hDlg, &ps);
        RECT rc;
        GetClientRect(hDlg, &rc);
        DrawIcon(hdc, (rc.right - GetSystemMetrics(SM_CXICON) + 1) / 2,
                 (rc.bottom - GetSystemMetrics(SM_CYICON) + 1) / 2, pSelf->m_hIcon);
        EndPaint(hDlg, &ps);
        return TRUE;
      }
      return FALSE;
    case WM_QUERYDRAGICON:
      SetWindowLongPtrW(hDlg, DWLP_MSGRESULT, reinterpret_cast<LONG_PTR>(pSelf->m_hIcon));
      return TRUE;
    default:
      return FALSE;
  }
}

BOOL CNySetupNewDlg::OnInitDialog() {
  SendMessageW(m_hDlg, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_hIcon));
  SendMessageW(m_hDlg, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_hIcon));
  if (!m_pExec->HandleSetupResources(136, L"\\PackageFiles\\SetupScript.xml", FALSE)) {
    NYLOG(LOG_LEVEL_OUTCOME, "%s Faild", "SingletonNySetupExec::GetInstance()->HandleSetupResources()");
    EndDialog(m_hDlg, EndOfFailedPreparation(m_pExec));
    return FALSE;
  }
  if (!m_pExec->SetInstance(nullptr)) {
    CNyString caption, text;
    if (m_pExec->GetStringValue("IDS_MAIN_UI_INSTALL_TITLE", &caption) &&
        m_pExec->GetStringValue("IDS_INSTANCE_EXISTED", &text)) {
      MessageBoxW(m_hDlg, text.GetWide(), caption.GetWide(), MB_ICONERROR | MB_TOPMOST);
    }
    EndDialog(m_hDlg, WIZARD_END_OTHER_INSTANCE);
    return FALSE;
  }
  if (IsInstallMode()) {
    VersionCompareResult result = VERSION_NOT_INSTALLED;
    m_pExec->CompareInstalledVersion(&result);
    const char* pszQuestion = result == VERSION_INSTALLED_EQUAL    ? "IDS_INSTAL_EQUAL_WARNING"
                              : result == VERSION_INSTALLED_HIGHER ? "IDS_INSTAL_HIGHER_WARNING"
                                                                   : nullptr;
    if (pszQuestion != nullptr) {
      CNyString caption, text;
      if (!m_pExec->GetStringValue("IDS_MAIN_UI_INSTALL_TITLE", &caption) ||
          !m_pExec->GetStringValue(pszQuestion, &text) ||
          MessageBoxW(m_hDlg, text.GetWide(), caption.GetWide(), MB_YESNO | MB_ICONINFORMATION | MB_TOPMOST) == IDNO) {
        EndDialog(m_hDlg, WIZARD_END_CANCELLED);
        return FALSE;
      }
    }
  }

  m_titleFont.Reset(CreateFontW(20, 0, 0, 0, 600, FALSE, FALSE, FALSE, 134, 0, 0, 0, 0x20, L"Tahoma"));
  SendDlgItemMessageW(m_hDlg, IDC_STATIC_TITLE, WM_SETFONT, reinterpret_cast<WPARAM>(m_titleFont.Get()), TRUE);
  const bool bInstall = IsInstallMode();
  CNyString caption;
  m_pExec->GetStringValue(bInstall ? "IDS_MAIN_UI_INSTALL_TITLE" : "IDS_MAIN_UI_UNINSTALL_TITLE", &caption);
  SetWindowTextW(m_hDlg, caption.GetWide());
  SetDlgItemTextW(m_hDlg, IDC_STATIC_TITLE, bInstall ? kTitleWelcomeInstall : kTitleWelcomeUninstall);
  SetTextFromScript(IDC_STATIC_BODY, bInstall ? "IDS_WELCOME_INSTALL" : "IDS_WELCOME_UNINSTALL");
  SetTextFromScript(IDC_BTN_INSTALL, "IDS_BTN_INSTALL");
  SetTextFromScript(IDC_BTN_CANCEL, "IDS_BTN_CANCEL");
  SetTextFromScript(IDC_BTN_UNINSTALL, "IDS_BTN_UNINSTALL");
  if (!SetTextFromScript(IDC_BTN_FINISH, "IDS_BTN_FININSH")) {
    EndDialog(m_hDlg, WIZARD_END_NOT_PREPARED);
    return FALSE;
  }
  ShowWindow(GetDlgItem(m_hDlg, IDC_BTN_INSTALL), bInstall ? SW_SHOW : SW_HIDE);
  ShowWindow(GetDlgItem(m_hDlg, IDC_BTN_UNINSTALL), bInstall ? SW_HIDE : SW_SHOW);
  ShowWindow(GetDlgItem(m_hDlg, IDC_BTN_CANCEL), SW_SHOW);
  ShowWindow(GetDlgItem(m_hDlg, IDC_BTN_FINISH), SW_HIDE);
  SendDlgItemMessageW(m_hDlg, IDC_PROGRESS, PBM_SETRANGE, 0, MAKELPARAM(0, 100));
  return TRUE;
}

void CNySetupNewDlg::OnCommand(WORD wId) {
  switch (wId) {
    case IDC_BTN_CANCEL:
      // During an install the run stops after the action under way and its
      // changes are undone.
      m_pExec->RequestStop();
      if (m_uiState.load() == UI_IDLE) EndDialog(m_hDlg, WIZARD_END_CANCELLED);
      EnableWindow(GetDlgItem(m_hDlg, IDC_BTN_CANCEL), FALSE);
      break;
    case IDC_BTN_INSTALL:
    case IDC_BTN_UNINSTALL:
      if (m_uiState.load() == UI_IDLE) OnStartRun();
      break;
    case IDC_BTN_FINISH:
      OnFinish();
      break;
    case IDOK: {
      // Enter on a control that is no default button: press the focused one.
      HWND hFocus = GetFocus();
      const int nId = hFocus != nullptr ? GetDlgCtrlID(hFocus) : 0;
      if (nId >= IDC_BTN_CANCEL && nId <= IDC_BTN_UNINSTALL && IsWindowEnabled(hFocus)) {
        SendMessageW(m_hDlg, WM_COMMAND, MAKEWPARAM(nId, 0), reinterpret_cast<LPARAM>(hFocus));
      }
      break;
    }
    default:
      // Escape arrives as IDCANCEL and does nothing.
      break;
  }
}

void CNySetupNewDlg::OnStartRun() {
  m_uiState.store(UI_BUSY);
  const bool bInstall = IsInstallMode();
  EnableWindow(GetDlgItem(m_hDlg, bInstall ? IDC_BTN_INSTALL : IDC_BTN_UNINSTALL), FALSE);
  // An install can be cancelled while it runs, since what it did is undone;
  // an uninstall cannot.
  EnableWindow(GetDlgItem(m_hDlg, IDC_BTN_CANCEL), bInstall);
  EnableWindow(GetDlgItem(m_hDlg, IDC_BTN_FINISH), FALSE);
  SetTextFromScript(IDC_STATIC_BODY, bInstall ? "IDS_TIP_INSTALLING_PRODUCT" : "IDS_TIP_UNINSTALLING_PRODUCT");
  if (!StartWorker()) OnRunDone(FALSE);
}

bool CNySetupNewDlg::StartWorker() {
  m_worker.Reset(CreateThread(nullptr, 0, SetupWorkerThread, this, 0, nullptr));
  return m_worker.IsValid();
}

DWORD WINAPI CNySetupNewDlg::SetupWorkerThread(LPVOID pvDialog) {
  auto* pSelf = static_cast<CNySetupNewDlg*>(pvDialog);
  CNyData context(2048);
  HWND hDlg = pSelf->m_hDlg;
  context.SetData(NY_TAG_DIALOG, &hDlg, sizeof(hDlg));
  const BOOL bResult = pSelf->m_pExec->RunActionList(OnActionProgress, &context);
  pSelf->m_uiState.store(UI_DONE);
  PostMessageW(hDlg, WM_NY_RUN_DONE, bResult, 0);
  return bResult ? 1 : 0;
}

void CNySetupNewDlg::OnRollingBack() {
  if (m_bRollingBack) return;
  m_bRollingBack = true;
  EnableWindow(GetDlgItem(m_hDlg, IDC_BTN_CANCEL), FALSE);
  CNyString text;
  if (m_pExec->GetStringValue("IDS_TIP_ROLLING_BACK", &text)) SetDlgItemTextW(m_hDlg, IDC_STATIC_BODY, text.GetWide());
}

WizardEnd CNySetupNewDlg::RunEnd() const {
  if (m_bRunSucceeded) return WIZARD_END_SUCCEEDED;
  return m_bCancelled ? WIZARD_END_CANCELLED : WIZARD_END_FAILED;
}

void CNySetupNewDlg::OnRunDone(BOOL bSucceeded) {
  // A cancelled run ends on the failure page too, once its changes are
  // undone; the program then says it was cancelled.
  m_bCancelled = m_pExec->StopRequested();
  m_bRunSucceeded = bSucceeded && !m_bCancelled;
  if (m_pExec->NotAdministrator()) {
    CNyString caption(L"Tips"), text(L"The program need administrator privileges for running!");
    m_pExec->GetStringValue("ProductName", &caption);
    m_pExec->GetStringValue("IDS_NEED_ADMIN", &text);
    MessageBoxW(m_hDlg, text.GetWide(), caption.GetWide(), MB_ICONERROR);
  }
  const bool bInstall = IsInstallMode();
  ShowWindow(GetDlgItem(m_hDlg, bInstall ? IDC_BTN_INSTALL : IDC_BTN_UNINSTALL), SW_HIDE);
  ShowWindow(GetDlgItem(m_hDlg, IDC_BTN_CANCEL), SW_HIDE);
  ShowWindow(GetDlgItem(m_hDlg, IDC_BTN_FINISH), SW_SHOW);
  EnableWindow(GetDlgItem(m_hDlg, IDC_BTN_FINISH), TRUE);
  if (m_bRunSucceeded) {
    SetTextFromScript(IDC_STATIC_BODY, bInstall ? "IDS_INSTALL_OK" : "IDS_UNINSTALL_OK");
    SetDlgItemTextW(m_hDlg, IDC_STATIC_TITLE, bInstall ? kTitleDoneInstall : kTitleDoneUninstall);
  } else {
    SetTextFromScript(IDC_STATIC_BODY, bInstall ? "IDS_INSTALL_FAILED" : "IDS_UNINSTALL_FAILED");
  }
  SetFocus(GetDlgItem(m_hDlg, IDC_BTN_FINISH));
}

void CNySetupNewDlg::OnFinish() {
  m_uiState.store(UI_BUSY);
  m_pExec->RunFinishList();
  m_pExec->Clear();
  m_uiState.store(UI_DONE);
  EndDialog(m_hDlg, RunEnd());
}
