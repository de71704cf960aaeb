#include "NyJournalFormat.h"

#include <cstring>

namespace {

constexpr uint8_t kMagic[8] = {'N', 'Y', 'J', 'O', 'U', 'R', 'N', 'L'};
constexpr uint32_t kFormat = 1;

void PutU32(uint8_t* pb, uint32_t u4Value) {
  for (int i = 0; i < 4; ++i) pb[i] = static_cast<uint8_t>(u4Value >> (8 * i));
}

uint32_t GetU32(const uint8_t* pb) {
  return static_cast<uint32_t>(pb[0]) | static_cast<uint32_t>(pb[1]) << 8 | static_cast<uint32_t>(pb[2]) << 16 |
         static_cast<uint32_t>(pb[3]) << 24;
}

void PutU64(uint8_t* pb, uint64_t u8Value) {
  PutU32(pb, static_cast<uint32_t>(u8Value));
  PutU32(pb + 4, static_cast<uint32_t>(u8Value >> 32));
}

uint64_t GetU64(const uint8_t* pb) { return static_cast<uint64_t>(GetU32(pb + 4)) << 32 | GetU32(pb); }

struct CrcTable {
  uint32_t entries[256];
  constexpr CrcTable() : entries() {
    for (uint32_t i = 0; i < 256; ++i) {
      uint32_t u4 = i;
      for (int bit = 0; bit < 8; ++bit) u4 = (u4 & 1) ? (u4 >> 1) ^ 0xEDB88320u : u4 >> 1;
      entries[i] = u4;
    }
  }
};
constexpr CrcTable kCrcTable;

// The frame's checksum covers its first 12 bytes and the payload.
uint32_t FrameCrc(const uint8_t* pbFrame, const uint8_t* pbPayload, size_t cbPayload) {
  return NyCrc32(pbPayload, cbPayload, NyCrc32(pbFrame, 12));
}

}  // namespace

uint32_t NyCrc32(const void* pvData, size_t cbData, uint32_t u4Crc) {
  const auto* pb = static_cast<const uint8_t*>(pvData);
  u4Crc = ~u4Crc;
  for (size_t i = 0; i < cbData; ++i) u4Crc = kCrcTable.entries[(u4Crc ^ pb[i]) & 0xFF] ^ (u4Crc >> 8);
  return ~u4Crc;
}

void EncodeJournalHeader(const NyJournalHeader& header, uint8_t (&abOut)[NY_JOURNAL_HEADER_SIZE]) {
  memset(abOut, 0, sizeof(abOut));
  memcpy(abOut, kMagic, sizeof(kMagic));
  PutU32(abOut + 8, kFormat);
  PutU32(abOut + 12, NY_JOURNAL_HEADER_SIZE);
  PutU32(abOut + 16, header.u4ProcessId);
  PutU64(abOut + 24, header.u8ProcessCreated);
  PutU64(abOut + 32, header.u8JournalCreated);
  PutU32(abOut + 44, NyCrc32(abOut, 44));
}

bool DecodeJournalHeader(const uint8_t* pbData, size_t cbData, NyJournalHeader* pHeader) {
  if (cbData < NY_JOURNAL_HEADER_SIZE || memcmp(pbData, kMagic, sizeof(kMagic)) != 0 ||
      GetU32(pbData + 8) != kFormat || GetU32(pbData + 12) != NY_JOURNAL_HEADER_SIZE ||
      GetU32(pbData + 44) != NyCrc32(pbData, 44)) {
    return false;
  }
  pHeader->u4ProcessId = GetU32(pbData + 16);
  pHeader->u8ProcessCreated = GetU64(pbData + 24);
  pHeader->u8JournalCreated = GetU64(pbData + 32);
  return true;
}

void EncodeJournalStep(NyUndoKind kind, uint32_t u4Action, const std::vector<uint8_t>& payload,
                       std::vector<uint8_t>* pOut) {
  uint8_t abFrame[NY_JOURNAL_FRAME_SIZE];
  PutU32(abFrame, static_cast<uint32_t>(payload.size()));
  PutU32(abFrame + 4, kind);
  PutU32(abFrame + 8, u4Action);
  PutU32(abFrame + 12, FrameCrc(abFrame, payload.data(), payload.size()));
  pOut->insert(pOut->end(), abFrame, abFrame + sizeof(abFrame));
  pOut->insert(pOut->end(), payload.begin(), payload.end());
}

size_t ScanJournal(const uint8_t* pbData, size_t cbData, std::vector<NyJournalEntry>* pEntries) {
  pEntries->clear();
  NyJournalHeader header;
  if (!DecodeJournalHeader(pbData, cbData, &header)) return 0;
  size_t at = NY_JOURNAL_HEADER_SIZE;
  while (cbData - at >= NY_JOURNAL_FRAME_SIZE) {
    const uint8_t* pbFrame = pbData + at;
    const uint32_t cbPayload = GetU32(pbFrame);
    if (cbPayload > NY_JOURNAL_MAX_PAYLOAD || cbPayload > cbData - at - NY_JOURNAL_FRAME_SIZE) break;
    if (GetU32(pbFrame + 12) != FrameCrc(pbFrame, pbFrame + NY_JOURNAL_FRAME_SIZE, cbPayload)) break;
    NyJournalEntry entry;
    entry.kind = GetU32(pbFrame + 4);
    entry.u4Action = GetU32(pbFrame + 8);
    entry.offset = at;
    entry.cbPayload = cbPayload;
    pEntries->push_back(entry);
    at += NY_JOURNAL_FRAME_SIZE + cbPayload;
  }
  return at;
}
