// The wizard's progress callback: the bar's position and the failures the
// factory's table lets pass.
#include <windows.h>

#include <gtest/gtest.h>

#include "NyData.h"
#include "NySetupProgress.h"
#include "resource.h"

namespace {

TEST(SetupProgress, BarPositionBeforeAndAfterEachOfThreeActions) {
  const uint32_t au4Before[] = {0, 33, 100}, au4After[] = {33, 100, 100};
  for (uint32_t i = 0; i < 3; ++i) {
    EXPECT_EQ(ProgressPosition(i, 3), au4Before[i]) << i;
    EXPECT_EQ(ProgressPosition(i + 1, 3), au4After[i]) << i;
  }
}

// A stand-in for the progress bar: it keeps the last position it was sent.
LRESULT CALLBACK FakeBarProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam) {
  if (uMsg == 0x402 /* PBM_SETPOS */) SetWindowLongPtrW(hWnd, GWLP_USERDATA, static_cast<LONG_PTR>(wParam));
  if (uMsg == WM_NY_ROLLING_BACK) SetPropW(hWnd, L"ZorvakRollingBack", reinterpret_cast<HANDLE>(1));
  return DefWindowProcW(hWnd, uMsg, wParam, lParam);
}

TEST(SetupProgress, CallbackMovesTheBarAndAppliesTheFactorysRule) {
  WNDCLASSW wc{};
  wc.lpfnWndProc = FakeBarProc;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.lpszClassName = L"ZorvakFakeBar";
  RegisterClassW(&wc);
  HWND hDialog = CreateWindowW(L"ZorvakFakeBar", L"", WS_OVERLAPPED, 0, 0, 10, 10, nullptr, nullptr,
                               GetModuleHandleW(nullptr), nullptr);
  ASSERT_NE(hDialog, nullptr) << GetLastError();
  HWND hBar = CreateWindowW(L"ZorvakFakeBar", L"", WS_CHILD, 0, 0, 10, 10, hDialog,
                            reinterpret_cast<HMENU>(static_cast<INT_PTR>(IDC_PROGRESS)), GetModuleHandleW(nullptr),
                            nullptr);
  ASSERT_NE(hBar, nullptr) << GetLastError();
  CNyData context(2048);
  ASSERT_EQ(context.SetData(NY_TAG_DIALOG, &hDialog, sizeof(hDialog)), 0u);
  CNySetupStatus status;
  status.m_u4Total = 3;
  status.m_u4Completed = 1;
  status.m_strActionName.Assign(L"DelRegister");
  status.m_failure = NyActionFailure::PassesIfGone;
  status.m_u4Result = 2;
  EXPECT_EQ(OnActionProgress(&status, &context), 0u);
  EXPECT_EQ(GetWindowLongPtrW(hBar, GWLP_USERDATA), 33);
  EXPECT_TRUE(IsWindowVisible(hBar) || (GetWindowLongW(hBar, GWL_STYLE) & WS_VISIBLE) != 0);
  status.m_u4Result = 5;
  EXPECT_EQ(OnActionProgress(&status, &context), 1u);
  EXPECT_EQ(OnUnattendedProgress(&status, nullptr), 1u);
  status.m_failure = NyActionFailure::Passes;
  EXPECT_EQ(OnUnattendedProgress(&status, nullptr), 0u);
  // While the run is undone: the dialog is told, the bar goes back with the
  // steps still to undo, and a step's result asks for nothing.
  EXPECT_EQ(GetPropW(hDialog, L"ZorvakRollingBack"), nullptr);
  status.m_bRollingBack = 1;
  status.m_failure = NyActionFailure::Stops;
  status.m_u4Total = 4;
  status.m_u4Completed = 3;
  EXPECT_EQ(OnActionProgress(&status, &context), 0u);
  EXPECT_EQ(GetWindowLongPtrW(hBar, GWLP_USERDATA), 75);
  EXPECT_NE(GetPropW(hDialog, L"ZorvakRollingBack"), nullptr);
  RemovePropW(hDialog, L"ZorvakRollingBack");
  DestroyWindow(hDialog);
}

}  // namespace
