#pragma once
// Messages of the cross-process ring tests: a payload that varies in length
// and content with the sequence, and a checksum over tag, sequence and payload.
#include <cstdint>
#include <cstdio>
#include <string>

inline std::string RingTestPayload(const std::string& tag, unsigned long u4Seq) {
  std::string payload;
  const size_t len = 1 + (u4Seq * 2654435761u) % 300;
  for (size_t i = 0; i < len; ++i) payload += char('A' + (u4Seq + i + tag.size()) % 26);
  return payload;
}

inline uint32_t RingTestChecksum(const std::string& tag, unsigned long u4Seq, const std::string& payload) {
  uint32_t h = 2166136261u;
  auto mix = [&h](const std::string& s) {
    for (unsigned char c : s) h = (h ^ c) * 16777619u;
  };
  mix(tag);
  mix(std::to_string(u4Seq));
  mix(payload);
  return h;
}

struct RingTestLine {
  std::string tag;
  unsigned long u4Seq = 0;
  bool bWhole = false;
};

// Parses the message part of a viewer line; false if it is no ring-test line.
inline bool ParseRingTestLine(const std::string& line, RingTestLine* pOut) {
  const size_t pos = line.find("ring-test ");
  if (pos == std::string::npos) return false;
  char szTag[32] = {};
  unsigned long u4Seq = 0;
  unsigned int u4Sum = 0;
  int nConsumed = 0;
  if (sscanf(line.c_str() + pos, "ring-test %31s %lu %x %n", szTag, &u4Seq, &u4Sum, &nConsumed) != 3) {
    pOut->bWhole = false;
    return true;
  }
  const std::string payload = line.substr(pos + nConsumed);
  pOut->tag = szTag;
  pOut->u4Seq = u4Seq;
  pOut->bWhole = payload == RingTestPayload(szTag, u4Seq) && u4Sum == RingTestChecksum(szTag, u4Seq, payload);
  return true;
}
