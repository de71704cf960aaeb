#include "NyJournal.h"

namespace {

// Filled while the program starts, before anything runs; read-only after.
constexpr size_t kMaxKinds = 64;

struct UndoTable {
  NyUndoHandler handlers[kMaxKinds];
  size_t count;
};

UndoTable& Table() {
  // Zero-initialised before any registration runs, whatever the order of
  // the units' static objects.
  static UndoTable s_table;
  return s_table;
}

class CNyNoJournal : public INyJournal {
 public:
  bool IsRecording() const override { return false; }
  uint32_t Record(const CNyUndoStep&) override { return 0; }
  uint32_t Note(const CNyUndoStep&) override { return 0; }
};

}  // namespace

INyJournal* NyNoJournal() {
  static CNyNoJournal s_none;
  return &s_none;
}

uint32_t NyRecordSteps(INyJournal* pJournal, const std::vector<CNyUndoStep>& steps) {
  for (size_t i = 0; i < steps.size(); ++i) {
    const uint32_t u4Result = i + 1 < steps.size() ? pJournal->Note(steps[i]) : pJournal->Record(steps[i]);
    if (u4Result != 0) return u4Result;
  }
  return 0;
}

CNyUndoRegistration::CNyUndoRegistration(const NyUndoHandler& handler) {
  UndoTable& table = Table();
  if (handler.pfnUndo == nullptr || NyFindUndoHandler(handler.kind) != nullptr || table.count == kMaxKinds) return;
  table.handlers[table.count++] = handler;
}

const NyUndoHandler* NyFindUndoHandler(NyUndoKind kind) {
  const UndoTable& table = Table();
  for (size_t i = 0; i < table.count; ++i)
    if (table.handlers[i].kind == kind) return &table.handlers[i];
  return nullptr;
}
