// The journal's bytes: a step's fields come back in order and a malformed
// step is refused; a journal cut or damaged anywhere (a power loss mid-write)
// reads back as its whole steps before the cut.
#include <gtest/gtest.h>

#include "NyJournalFormat.h"

namespace {

TEST(UndoStep, FieldsComeBackInOrderAndAMalformedStepIsRefused) {
  CNyUndoStep step(NyUndoKindTag("RKEY"));
  const uint8_t abData[] = {0, 1, 0xFF};
  step.AddU32(0x80000002u).AddText(L"SOFTWARE\\Caf\u00e9 \u4e2d").AddBytes(abData, 3).AddU64(0x0102030405060708ull);
  EXPECT_EQ(step.Kind(), 0x59454B52u);
  uint32_t u4 = 0;
  uint64_t u8 = 0;
  std::wstring text;
  std::vector<uint8_t> bytes;
  CNyUndoReader reader(step.Payload().data(), step.Payload().size());
  ASSERT_TRUE(reader.ReadU32(&u4) && reader.ReadText(&text) && reader.ReadBytes(&bytes) && reader.ReadU64(&u8));
  EXPECT_EQ(u4, 0x80000002u);
  EXPECT_EQ(text, L"SOFTWARE\\Caf\u00e9 \u4e2d");
  EXPECT_EQ(bytes, std::vector<uint8_t>(abData, abData + 3));
  EXPECT_EQ(u8, 0x0102030405060708ull);
  EXPECT_TRUE(reader.AtEnd());
  // Every cut fails somewhere instead of reading past the end, and so do
  // counts that claim more than there is, up to sizes that would wrap.
  for (size_t cb = 0; cb < step.Payload().size(); ++cb) {
    CNyUndoReader cut(step.Payload().data(), cb);
    EXPECT_FALSE(cut.ReadU32(&u4) && cut.ReadText(&text) && cut.ReadBytes(&bytes) && cut.ReadU64(&u8)) << cb;
  }
  for (uint32_t u4Count : {5u, 0x7FFFFFFFu, 0x80000001u, 0xFFFFFFFFu}) {
    CNyUndoStep lying(0);
    lying.AddU32(u4Count).AddU32(0);
    CNyUndoReader asText(lying.Payload().data(), lying.Payload().size());
    CNyUndoReader asBytes(lying.Payload().data(), lying.Payload().size());
    EXPECT_FALSE(asText.ReadText(&text) || asBytes.ReadBytes(&bytes)) << u4Count;
  }
}

TEST(JournalFormat, WholeStepsReadBackAndATornOrDamagedTailIsCutOff) {
  EXPECT_EQ(NyCrc32("123456789", 9), 0xCBF43926u);
  NyJournalHeader header;
  header.u4ProcessId = 4242;
  header.u8ProcessCreated = 0x01DA000011112222ull;
  uint8_t abHeader[NY_JOURNAL_HEADER_SIZE];
  EncodeJournalHeader(header, abHeader);
  std::vector<uint8_t> journal(abHeader, abHeader + sizeof(abHeader));
  std::vector<size_t> ends;
  for (uint32_t u4Action = 1; u4Action <= 3; ++u4Action) {
    CNyUndoStep step(NyUndoKindTag("RTRE"));
    if (u4Action != 2) step.AddText(L"step");
    EncodeJournalStep(step.Kind(), u4Action, step.Payload(), &journal);
    ends.push_back(journal.size());
  }
  NyJournalHeader read;
  ASSERT_TRUE(DecodeJournalHeader(journal.data(), journal.size(), &read));
  EXPECT_EQ(read.u4ProcessId, 4242u);
  EXPECT_EQ(read.u8ProcessCreated, 0x01DA000011112222ull);
  std::vector<NyJournalEntry> entries;
  ASSERT_EQ(ScanJournal(journal.data(), journal.size(), &entries), journal.size());
  ASSERT_EQ(entries.size(), 3u);
  EXPECT_EQ(entries[1].kind, NyUndoKindTag("RTRE"));
  EXPECT_EQ(entries[1].u4Action, 2u);
  EXPECT_EQ(entries[1].offset, ends[0]);
  EXPECT_EQ(entries[1].cbPayload, 0u);

  // A power loss may leave any prefix: its whole steps are read, no more,
  // and without a whole header there is no journal.
  for (size_t cb = 0; cb <= journal.size(); ++cb) {
    size_t whole = cb < NY_JOURNAL_HEADER_SIZE ? 0 : NY_JOURNAL_HEADER_SIZE, count = 0;
    for (size_t end : ends) {
      if (end <= cb) whole = end, ++count;
    }
    EXPECT_EQ(ScanJournal(journal.data(), cb, &entries), whole) << cb;
    EXPECT_EQ(entries.size(), count) << cb;
  }
  // A damaged byte ends the journal before its step; in the header, at once.
  for (size_t at = 0; at < ends[1]; ++at) {
    std::vector<uint8_t> damaged = journal;
    damaged[at] ^= 0x40;
    const size_t expected = at < NY_JOURNAL_HEADER_SIZE ? 0 : at < ends[0] ? NY_JOURNAL_HEADER_SIZE : ends[0];
    EXPECT_EQ(ScanJournal(damaged.data(), damaged.size(), &entries), expected) << at;
  }
}

}  // namespace
