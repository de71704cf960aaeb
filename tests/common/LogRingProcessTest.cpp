// The log ring across real processes: writer processes using the program's
// log call, and the viewer reading what they wrote.
#include <windows.h>

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "Log/NyLog.h"
#include "Log/NyShmLogger.h"
#include "NyShareMem.h"
#include "RingTestMessage.h"
#include "TestProcess.h"

namespace {

std::wstring WriterPath() { return ExeDir() + L"ny_log_writer.exe"; }
std::wstring ViewerPath() { return ExeDir() + NY_LOGVIEW_RELPATH; }

std::wstring TempFile(const wchar_t* pwszName) {
  wchar_t wsz[MAX_PATH] = {};
  GetTempPathW(MAX_PATH, wsz);
  return std::wstring(wsz) + pwszName;
}

std::vector<std::string> ReadLines(const std::wstring& path) {
  std::vector<std::string> lines;
  std::ifstream in(path.c_str());
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::vector<RingTestLine> RingLines(const std::wstring& path) {
  std::vector<RingTestLine> out;
  for (const std::string& line : ReadLines(path)) {
    RingTestLine parsed;
    if (ParseRingTestLine(line, &parsed)) out.push_back(parsed);
  }
  return out;
}

// Keeps the ring alive for the test, as the first process of the machine
// that opens it. Every test starts from a fresh ring.
class RingProcessTest : public testing::Test {
 protected:
  void SetUp() override {
    NyNamespaceAcquire();
    ASSERT_TRUE(m_keeper.OpenLogRingWriter());
    ASSERT_EQ(m_keeper.Queue().Word(RING_COMMIT), 0u) << "another process holds the log ring";
    m_out = TempFile(L"ny_ring_view.txt");
    DeleteFileW(m_out.c_str());
  }
  void TearDown() override {
    m_keeper.Close();
    NyNamespaceRelease();
    DeleteFileW(m_out.c_str());
  }
  CNyShmLogger m_keeper;
  std::wstring m_out;
};

TEST_F(RingProcessTest, TwoWritersWhileViewerFollowsLoseNothing) {
  Process a(WriterPath(), L"20000 A", true);
  Process b(WriterPath(), L"20000 B", true);
  Process viewer(ViewerPath(), L"--follow --pid " + std::to_wstring(a.Pid()) + L" --pid " + std::to_wstring(b.Pid()) +
                                   L" --out \"" + m_out + L"\"");
  while (m_keeper.Queue().Word(RING_READER_COUNT) == 0) Sleep(5);
  a.Resume();
  b.Resume();
  EXPECT_EQ(a.Wait(), 0u);
  EXPECT_EQ(b.Wait(), 0u);
  EXPECT_EQ(viewer.Wait(), 0u);

  std::map<std::string, unsigned long> next;
  size_t torn = 0, outOfOrder = 0;
  for (const RingTestLine& line : RingLines(m_out)) {
    if (!line.bWhole) {
      ++torn;
      continue;
    }
    if (line.u4Seq != next[line.tag]) ++outOfOrder;
    next[line.tag] = line.u4Seq + 1;
  }
  EXPECT_EQ(torn, 0u);
  EXPECT_EQ(outOfOrder, 0u);
  EXPECT_EQ(next["A"], 20000u);
  EXPECT_EQ(next["B"], 20000u);
  EXPECT_EQ(m_keeper.Queue().Word(RING_READER_COUNT), 0u) << "the viewer unregisters on exit";
}

TEST_F(RingProcessTest, WithoutReaderNewestRecordsSurvive) {
  Process writer(WriterPath(), L"40000 C");
  ASSERT_EQ(writer.Wait(), 0u);
  EXPECT_EQ(m_keeper.Queue().Word(RING_READ), 2 * NY_RING_DISCARD_BATCH);
  EXPECT_EQ(m_keeper.Queue().Word(RING_COMMIT), 40000u);

  Process viewer(ViewerPath(), L"--out \"" + m_out + L"\"");
  ASSERT_EQ(viewer.Wait(), 0u);
  const std::vector<RingTestLine> lines = RingLines(m_out);
  ASSERT_EQ(lines.size(), 40000u - 2 * NY_RING_DISCARD_BATCH);
  for (size_t i = 0; i < lines.size(); ++i) {
    ASSERT_TRUE(lines[i].bWhole);
    ASSERT_EQ(lines[i].u4Seq, 2 * NY_RING_DISCARD_BATCH + i);
  }
}

TEST_F(RingProcessTest, StalledReaderIsWrittenOffAfterHundredStalls) {
  ASSERT_TRUE(m_keeper.RegisterReader());
  const ULONGLONG ullStart = GetTickCount64();
  Process writer(WriterPath(), L"32768 D");
  ASSERT_EQ(writer.Wait(), 0u);
  // 101 sleeps of at least 1 ms each happened before the reader was dropped.
  EXPECT_GE(GetTickCount64() - ullStart, 100u);
  EXPECT_EQ(m_keeper.Queue().Word(RING_READER_COUNT), 0u);
  EXPECT_EQ(m_keeper.Queue().Word(RING_READ), NY_RING_DISCARD_BATCH);
  EXPECT_EQ(m_keeper.Queue().Word(RING_COMMIT), 32768u);
}

TEST_F(RingProcessTest, SecondProcessKeepsWhatTheRingHolds) {
  LogRecord record;
  NyFillLogRecord(&record, LOG_LEVEL_TRACE, "keeper.cpp", 1, "ring-test K 0 0 kept", 1, 1, 1);
  for (int i = 0; i < 10; ++i) ASSERT_TRUE(m_keeper.PushLogRecord(record));
  Process writer(WriterPath(), L"5 E");
  ASSERT_EQ(writer.Wait(), 0u);
  EXPECT_EQ(m_keeper.Queue().Word(RING_CAPACITY), NY_RING_CAPACITY);
  EXPECT_EQ(m_keeper.Queue().Word(RING_COMMIT), 15u);
  LogRecord out[16];
  ASSERT_EQ(m_keeper.Queue().Read(out, 16), 15u);
  EXPECT_STREQ(out[0].szText, "ring-test K 0 0 kept");
  EXPECT_NE(std::string(out[14].szText).find("ring-test E 4 "), std::string::npos);
}

TEST(RingOtherCapacity, IsRefusedAndLoggingStillSucceeds) {
  NyNamespaceAcquire();
  // A region of the ring's name laid out for 1024 records.
  constexpr uint32_t kOther = 1024;
  NyShareMemHandle region;
  bool bCreated = false;
  ASSERT_EQ(NyShareMemOpen(kNyLogRingName, NyLogRingRegionSize(kOther), true, &region, &bCreated), 0u);
  ASSERT_TRUE(bCreated) << "another process holds the log ring";
  CLockfreeArrayQueue other;
  ASSERT_EQ(other.Attach(static_cast<uint8_t*>(region.pView) + 4, region.cbSize - 4, kOther, true), 0u);

  CNyShmLogger logger;
  uint32_t u4Result = 0;
  EXPECT_FALSE(logger.OpenLogRingWriter(true, &u4Result));
  EXPECT_EQ(u4Result, 0xE0600003u);

  Process writer(WriterPath(), L"100 F");
  EXPECT_EQ(writer.Wait(), 0u);
  EXPECT_EQ(other.Word(RING_COMMIT), 0u);

  Process viewer(ViewerPath(), L"");
  EXPECT_EQ(viewer.Wait(), 3u);
  NyShareMemClose(&region);
  NyNamespaceRelease();
}

TEST(RingViewer, NoRingIsAClearFailure) {
  Process viewer(ViewerPath(), L"");
  EXPECT_EQ(viewer.Wait(), 2u);
  Process usage(ViewerPath(), L"--pid 12");
  EXPECT_EQ(usage.Wait(), 1u);
}

}  // namespace
