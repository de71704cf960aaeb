#pragma once
// A journal that keeps the steps the actions record and undoes or commits
// them as the rollback does: the last first, each by its kind's handler,
// with the file actions' view of the system folders.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "NyJournal.h"
#include "NyResult.h"
#include "NySetupInfo.h"
#include "NySystem_Win.h"

class UndoJournal : public INyJournal {
 public:
  UndoJournal() { m_info.m_pJournal = this; }
  UndoJournal(const UndoJournal&) = delete;
  UndoJournal& operator=(const UndoJournal&) = delete;

  bool IsRecording() const override { return true; }
  uint32_t Record(const CNyUndoStep& step) override {
    steps.push_back(step);
    return 0;
  }
  uint32_t Note(const CNyUndoStep& step) override { return Record(step); }

  // What an action is handed to record into this journal.
  CNySetupInfo* Info() { return &m_info; }

  // Undoes every step, the last first; the first failure's code.
  uint32_t UndoAll() {
    const CNyFsRedirectionOff redirection;
    uint32_t u4First = 0;
    for (size_t i = steps.size(); i-- > 0;) {
      const NyUndoHandler* pHandler = NyFindUndoHandler(steps[i].Kind());
      if (pHandler == nullptr) {
        ADD_FAILURE() << "no undo for step " << i;
        continue;
      }
      CNyUndoReader reader(steps[i].Payload().data(), steps[i].Payload().size());
      std::wstring object;
      const uint32_t u4Result = pHandler->pfnUndo(&reader, &object);
      if (u4First == 0) u4First = u4Result;
    }
    return u4First;
  }
  void CommitAll() {
    const CNyFsRedirectionOff redirection;
    for (const CNyUndoStep& step : steps) {
      const NyUndoHandler* pHandler = NyFindUndoHandler(step.Kind());
      if (pHandler == nullptr || pHandler->pfnCommit == nullptr) continue;
      CNyUndoReader reader(step.Payload().data(), step.Payload().size());
      pHandler->pfnCommit(&reader);
    }
  }
  // Every cut of every step is refused as malformed before anything is
  // touched: a torn or damaged step is never half read and acted on.
  void ExpectCutStepsRefused() const {
    for (const CNyUndoStep& step : steps) {
      const NyUndoHandler* pHandler = NyFindUndoHandler(step.Kind());
      ASSERT_NE(pHandler, nullptr);
      for (size_t cb = 0; cb < step.Payload().size(); ++cb) {
        CNyUndoReader reader(step.Payload().data(), cb);
        std::wstring object;
        EXPECT_EQ(pHandler->pfnUndo(&reader, &object), NY_E_INVALID_DATA) << "kind " << step.Kind() << " cut at " << cb;
      }
    }
  }
  // How many steps of a kind were recorded.
  size_t Count(const char (&tag)[5]) const {
    size_t count = 0;
    for (const CNyUndoStep& step : steps) count += step.Kind() == NyUndoKindTag(tag) ? 1 : 0;
    return count;
  }

  std::vector<CNyUndoStep> steps;

 private:
  CNySetupInfo m_info;
};
