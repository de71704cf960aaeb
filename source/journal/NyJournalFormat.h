#pragma once
// The journal file's bytes. Portable.
//
//   header (48 bytes)  "NYJOURNL", format 1, header size 48, the run's process
//                      id, 0, the process's creation time and the journal's
//                      (FILETIME), 0, CRC-32 of the 44 bytes before it
//   step, repeated     payload length, kind, the action's place in its list
//                      (from 1), CRC-32 of these 12 bytes and the payload,
//                      then the payload
//
// Numbers are little-endian. A step is appended and flushed before its
// change is made, so only the last step can be torn by a power loss: the
// scan stops at the first step whose length runs past the end or whose
// checksum fails, and what follows is ignored -- that change was never made.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "NyUndoStep.h"

constexpr size_t NY_JOURNAL_HEADER_SIZE = 48;
constexpr size_t NY_JOURNAL_FRAME_SIZE = 16;
// Larger than any step a kind writes: a length beyond it is a torn frame.
constexpr uint32_t NY_JOURNAL_MAX_PAYLOAD = 64u << 20;
// The step that marks a journal as committed: the run succeeded, and only
// the kinds' commits remain to be done.
constexpr NyUndoKind NY_UNDO_KIND_COMMIT = NyUndoKindTag("CMIT");

struct NyJournalHeader {
  uint32_t u4ProcessId = 0;
  uint64_t u8ProcessCreated = 0;  // FILETIME of the process's creation
  uint64_t u8JournalCreated = 0;  // FILETIME of the journal's creation
};

struct NyJournalEntry {
  NyUndoKind kind = 0;
  uint32_t u4Action = 0;
  size_t offset = 0;  // of the frame, from the start of the file
  size_t cbPayload = 0;
};

uint32_t NyCrc32(const void* pvData, size_t cbData, uint32_t u4Crc = 0);

void EncodeJournalHeader(const NyJournalHeader& header, uint8_t (&abOut)[NY_JOURNAL_HEADER_SIZE]);
// False for bytes that are no whole header of this format.
bool DecodeJournalHeader(const uint8_t* pbData, size_t cbData, NyJournalHeader* pHeader);

// Appends the frame and the payload of a step to *pOut.
void EncodeJournalStep(NyUndoKind kind, uint32_t u4Action, const std::vector<uint8_t>& payload,
                       std::vector<uint8_t>* pOut);

// The whole steps of a journal's bytes (header included) in order. Returns
// the size of the valid part: the header and the whole steps.
size_t ScanJournal(const uint8_t* pbData, size_t cbData, std::vector<NyJournalEntry>* pEntries);
