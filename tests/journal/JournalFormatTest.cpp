// The undo steps' fields and the journal file's layout: what is read back is
// what was written, a torn or damaged tail is cut off, a malformed step is
// refused.
#include <gtest/gtest.h>

#include "NyJournal.h"
#include "NyJournalFormat.h"

namespace {

std::vector<uint8_t> JournalOf(const std::vector<CNyUndoStep>& steps) {
  NyJournalHeader header;
  header.u4ProcessId = 4242;
  header.u8ProcessCreated = 0x01DA000011112222ull;
  header.u8JournalCreated = 0x01DA000033334444ull;
  uint8_t abHeader[NY_JOURNAL_HEADER_SIZE];
  EncodeJournalHeader(header, abHeader);
  std::vector<uint8_t> bytes(abHeader, abHeader + sizeof(abHeader));
  uint32_t u4Action = 0;
  for (const CNyUndoStep& step : steps) EncodeJournalStep(step.Kind(), ++u4Action, step.Payload(), &bytes);
  return bytes;
}

TEST(UndoStep, FieldsComeBackInOrderAndAShortStepIsRefused) {
  CNyUndoStep step(NyUndoKindTag("RKEY"));
  const uint8_t abData[] = {0, 1, 0xFF};
  step.AddU32(0x80000002u).AddText(L"SOFTWARE\\Caf\u00e9 \u4e2d").AddBytes(abData, 3).AddU64(0x0102030405060708ull)
      .AddText(L"").AddBytes(nullptr, 0);
  EXPECT_EQ(step.Kind(), 0x59454B52u);
  CNyUndoReader reader(step.Payload().data(), step.Payload().size());
  uint32_t u4 = 0;
  uint64_t u8 = 0;
  std::wstring text, empty = L"x";
  std::vector<uint8_t> bytes, none = {9};
  ASSERT_TRUE(reader.ReadU32(&u4) && reader.ReadText(&text) && reader.ReadBytes(&bytes) && reader.ReadU64(&u8) &&
              reader.ReadText(&empty) && reader.ReadBytes(&none));
  EXPECT_EQ(u4, 0x80000002u);
  EXPECT_EQ(text, L"SOFTWARE\\Caf\u00e9 \u4e2d");
  EXPECT_EQ(bytes, std::vector<uint8_t>(abData, abData + 3));
  EXPECT_EQ(u8, 0x0102030405060708ull);
  EXPECT_TRUE(empty.empty());
  EXPECT_TRUE(none.empty());
  EXPECT_TRUE(reader.AtEnd());
  EXPECT_FALSE(reader.ReadU32(&u4));

  // Every cut of the payload fails somewhere instead of reading past it.
  for (size_t cb = 0; cb < step.Payload().size(); ++cb) {
    CNyUndoReader cut(step.Payload().data(), cb);
    EXPECT_FALSE(cut.ReadU32(&u4) && cut.ReadText(&text) && cut.ReadBytes(&bytes) && cut.ReadU64(&u8) &&
                 cut.ReadText(&empty) && cut.ReadBytes(&none))
        << cb;
  }
  // Counts that claim more than there is, up to wrapping sizes.
  for (uint32_t u4Count : {5u, 0x7FFFFFFFu, 0x80000001u, 0xFFFFFFFFu}) {
    CNyUndoStep lying(0);
    lying.AddU32(u4Count).AddU32(0);
    CNyUndoReader asText(lying.Payload().data(), lying.Payload().size());
    EXPECT_FALSE(asText.ReadText(&text)) << u4Count;
    EXPECT_TRUE(asText.AtEnd());
    CNyUndoReader asBytes(lying.Payload().data(), lying.Payload().size());
    EXPECT_FALSE(asBytes.ReadBytes(&bytes)) << u4Count;
  }
}

TEST(JournalFormat, AJournalReadsBackWholeAndATornTailIsCutOff) {
  EXPECT_EQ(NyCrc32("123456789", 9), 0xCBF43926u);
  std::vector<CNyUndoStep> steps(3, CNyUndoStep(NyUndoKindTag("RTRE")));
  steps[0].AddText(L"first");
  steps[2].AddBytes("\0\1\2\3", 4);
  const std::vector<uint8_t> journal = JournalOf(steps);

  NyJournalHeader header;
  ASSERT_TRUE(DecodeJournalHeader(journal.data(), journal.size(), &header));
  EXPECT_EQ(header.u4ProcessId, 4242u);
  EXPECT_EQ(header.u8ProcessCreated, 0x01DA000011112222ull);
  EXPECT_EQ(header.u8JournalCreated, 0x01DA000033334444ull);
  std::vector<NyJournalEntry> entries;
  ASSERT_EQ(ScanJournal(journal.data(), journal.size(), &entries), journal.size());
  ASSERT_EQ(entries.size(), 3u);
  size_t offset = NY_JOURNAL_HEADER_SIZE;
  std::vector<size_t> ends;
  for (size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(entries[i].kind, NyUndoKindTag("RTRE"));
    EXPECT_EQ(entries[i].u4Action, i + 1);
    EXPECT_EQ(entries[i].offset, offset);
    EXPECT_EQ(entries[i].cbPayload, steps[i].Payload().size());
    const uint8_t* pbPayload = journal.data() + offset + NY_JOURNAL_FRAME_SIZE;
    EXPECT_EQ(std::vector<uint8_t>(pbPayload, pbPayload + entries[i].cbPayload), steps[i].Payload());
    offset += NY_JOURNAL_FRAME_SIZE + entries[i].cbPayload;
    ends.push_back(offset);
  }

  // A power loss may leave any prefix: the whole steps in it are read, the
  // rest is not, and a header that is not whole means no journal.
  for (size_t cb = 0; cb <= journal.size(); ++cb) {
    size_t expected = 0, whole = cb < NY_JOURNAL_HEADER_SIZE ? 0 : NY_JOURNAL_HEADER_SIZE;
    for (size_t end : ends) {
      if (end <= cb) {
        ++expected;
        whole = end;
      }
    }
    EXPECT_EQ(ScanJournal(journal.data(), cb, &entries), whole) << cb;
    EXPECT_EQ(entries.size(), expected) << cb;
  }
  // A damaged byte anywhere in a step ends the journal before that step.
  for (size_t at = ends[0]; at < ends[1]; ++at) {
    std::vector<uint8_t> damaged = journal;
    damaged[at] ^= 0x40;
    EXPECT_EQ(ScanJournal(damaged.data(), damaged.size(), &entries), ends[0]) << at;
    EXPECT_EQ(entries.size(), 1u) << at;
  }
  for (size_t at = 0; at < NY_JOURNAL_HEADER_SIZE; ++at) {
    std::vector<uint8_t> damaged = journal;
    damaged[at] ^= 0x01;
    EXPECT_FALSE(DecodeJournalHeader(damaged.data(), damaged.size(), &header)) << at;
    EXPECT_EQ(ScanJournal(damaged.data(), damaged.size(), &entries), 0u) << at;
  }
}

uint32_t UndoNothing(CNyUndoReader*, std::wstring*) { return 0; }
uint32_t UndoOther(CNyUndoReader*, std::wstring*) { return 1; }

TEST(UndoKinds, OneHandlerPerKind) {
  const NyUndoKind kind = NyUndoKindTag("T1ST");
  EXPECT_EQ(NyFindUndoHandler(kind), nullptr);
  CNyUndoRegistration first({kind, UndoNothing, nullptr});
  CNyUndoRegistration second({kind, UndoOther, nullptr});
  CNyUndoRegistration noUndo({NyUndoKindTag("T2ND"), nullptr, nullptr});
  const NyUndoHandler* pHandler = NyFindUndoHandler(kind);
  ASSERT_NE(pHandler, nullptr);
  EXPECT_EQ(pHandler->pfnUndo, UndoNothing);
  EXPECT_EQ(NyFindUndoHandler(NyUndoKindTag("T2ND")), nullptr);
  EXPECT_FALSE(NyNoJournal()->IsRecording());
  EXPECT_EQ(NyNoJournal()->Record(CNyUndoStep(kind)), 0u);
}

}  // namespace
