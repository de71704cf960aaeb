// The log call end to end in one process: what a record carries, as the
// viewer reads it from the ring.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ILogger.h"
#include "NyLog.h"
#include "NyLogger.h"
#include "NyShmLogger.h"
#include "NyCommon.h"
#include "NyShareMem.h"

namespace {

// Attaches to the ring as a reader view and returns what was logged since
// the last call.
class RingReader {
 public:
  RingReader() {
    EXPECT_TRUE(m_ring.OpenLogRingWriter(false));
    Drain();
  }
  std::vector<LogRecord> Drain() {
    std::vector<LogRecord> out, batch(64);
    for (uint32_t n; (n = m_ring.Queue().Read(batch.data(), 64)) != 0;) {
      out.insert(out.end(), batch.begin(), batch.begin() + n);
    }
    return out;
  }

 private:
  CNyShmLogger m_ring;
};

class LoggerTest : public testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(NyCommonInit(), 0u); }
  void TearDown() override { EXPECT_EQ(NyCommonUninit(), 0); }
};

bool AllZero(const char* p, size_t cb) {
  for (size_t i = 0; i < cb; ++i)
    if (p[i] != 0) return false;
  return true;
}

TEST_F(LoggerTest, RecordCarriesEveryFieldAndZeroPadding) {
  RingReader reader;
  const std::string source(200, 'S');
  const std::string sourceTail = std::string(126, 'S') + "X";
  std::string longSource = source.substr(0, 199) + "X";
  NyLog(LOG_LEVEL_ERROR, longSource.c_str(), 77, "u4Result = %08X", 5u);
  const std::vector<LogRecord> records = reader.Drain();
  ASSERT_EQ(records.size(), 1u);
  const LogRecord& r = records[0];
  EXPECT_EQ(r.u4Level, LOG_LEVEL_ERROR);
  EXPECT_EQ(std::string(r.szSrcFile), sourceTail);
  EXPECT_EQ(r.szSrcFile[127], 0);
  EXPECT_EQ(r.u4Line, 77u);
  EXPECT_STREQ(r.szText, "u4Result = 00000005");
  EXPECT_TRUE(AllZero(r.szText + 20, sizeof(r.szText) - 20));
  EXPECT_EQ(r.u8Time, r.u8Time2);
  EXPECT_NE(r.u8Time, 0u);
  EXPECT_EQ(r.u4ProcessId, GetCurrentProcessId());
  EXPECT_EQ(r.u4ThreadId, GetCurrentThreadId());
  EXPECT_EQ(r.u4WordSize, sizeof(void*) * 8);
  EXPECT_STREQ(r.szExeName, "common_logger_test.exe");
  EXPECT_STREQ(r.szExeVersion, "6.4.0.11");
  char szUser[256] = {};
  DWORD cch = sizeof(szUser);
  ASSERT_TRUE(GetUserNameA(szUser, &cch));
  EXPECT_EQ(std::string(r.szUserName), std::string(szUser).substr(0, 19));
  const size_t cbName = strlen(r.szExeName), cbVersion = strlen(r.szExeVersion), cbUser = strlen(r.szUserName);
  EXPECT_TRUE(AllZero(r.szExeName + cbName, sizeof(r.szExeName) - cbName));
  EXPECT_TRUE(AllZero(r.szExeVersion + cbVersion, sizeof(r.szExeVersion) - cbVersion));
  EXPECT_TRUE(AllZero(r.szUserName + cbUser, sizeof(r.szUserName) - cbUser));
  EXPECT_TRUE(AllZero(r.szSrcFile + 127, 1));
  EXPECT_TRUE(AllZero(reinterpret_cast<const char*>(r.abReserved), sizeof(r.abReserved)));
}

TEST_F(LoggerTest, LongMessagesAreCutAfterAWarning) {
  RingReader reader;
  const std::string exact(4096, 'e');
  NYLOG(LOG_LEVEL_TRACE, "%s", exact.c_str());
  std::vector<LogRecord> records = reader.Drain();
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(std::string(records[0].szText), exact);

  const std::string tooLong = std::string(4096, 'f') + "g";
  NYLOG(LOG_LEVEL_TRACE, "%s", tooLong.c_str());
  records = reader.Drain();
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0].u4Level, LOG_LEVEL_OUTCOME);
  EXPECT_STREQ(records[0].szText, "NyStrVPrintf failed due to buffer may be too small");
  EXPECT_EQ(std::string(records[1].szText), tooLong.substr(0, 4096));
}

TEST_F(LoggerTest, WideMessagesAreConvertedAndEmptyOnesDropped) {
  RingReader reader;
  NYLOGW(LOG_LEVEL_TRACE, L"%s: Src in xml is: %s", L"CNyActionFile::LoadConfig", L"C:\\x.dll");
  NYLOGW(LOG_LEVEL_TRACE, L"%s", L"");
  NyLog(LOG_LEVEL_TRACE, __FILE__, __LINE__, nullptr);
  const std::vector<LogRecord> records = reader.Drain();
  ASSERT_EQ(records.size(), 1u);
  EXPECT_STREQ(records[0].szText, "CNyActionFile::LoadConfig: Src in xml is: C:\\x.dll");
}

TEST(LoggerLifecycle, LoggingOutsideTheLibraryDoesNothing) {
  NyNamespaceAcquire();
  CNyShmLogger keeper;
  ASSERT_TRUE(keeper.OpenLogRingWriter());
  const uint32_t u4Before = keeper.Queue().Word(RING_COMMIT);
  EXPECT_EQ(g_pNyLogger, nullptr);
  NYLOG(LOG_LEVEL_TRACE, "before start");
  EXPECT_EQ(NyCommonUninit(), -1);
  ASSERT_EQ(NyCommonInit(), 0u);
  ASSERT_EQ(NyCommonInit(), 0u);
  NYLOG(LOG_LEVEL_TRACE, "while started");
  EXPECT_EQ(NyCommonUninit(), 0);
  NYLOG(LOG_LEVEL_TRACE, "still started");
  EXPECT_EQ(NyCommonUninit(), 0);
  EXPECT_EQ(g_pNyLogger, nullptr);
  NYLOG(LOG_LEVEL_TRACE, "after stop");
  EXPECT_EQ(keeper.Queue().Word(RING_COMMIT), u4Before + 2);
  keeper.Close();
  NyNamespaceRelease();
}

TEST(LoggerLifecycle, ConfigureKeepsTheRingOnEqualConfigAndDropsOtherSinks) {
  NyNamespaceAcquire();
  CNyLogger logger;
  LoggerConfig config{};
  config.u4SinkType = NY_LOG_SINK_SHM;
  ASSERT_EQ(logger.Configure(&config), 0u);
  EXPECT_TRUE(logger.Log(LOG_LEVEL_TRACE, "f", 1, "one"));
  ASSERT_EQ(logger.Configure(&config), 0u);
  EXPECT_TRUE(logger.Log(LOG_LEVEL_TRACE, "f", 2, "two"));
  // A sink type this program has no sink for.
  LoggerConfig file{};
  file.u4SinkType = 2;
  EXPECT_EQ(logger.Configure(&file), 0u);
  EXPECT_FALSE(logger.Log(LOG_LEVEL_TRACE, "f", 3, "dropped"));
  ASSERT_EQ(logger.Configure(&config), 0u);
  EXPECT_TRUE(logger.Log(LOG_LEVEL_TRACE, "f", 4, "ring again"));
  LoggerConfig none{};
  ASSERT_EQ(logger.Configure(&none), 0u);
  EXPECT_FALSE(logger.Log(LOG_LEVEL_TRACE, "f", 5, "dropped"));
  NyNamespaceRelease();
}

}  // namespace
