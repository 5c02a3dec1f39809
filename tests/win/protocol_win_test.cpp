// Received bytes as code-page-936 text, converted by the system as the protocol asks.
#include "remote/protocol_win.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/wide_win.h"
#include "remote/command_log.h"
#include "remote/command_log_win.h"
#include "test_support_win.h"

#include "remote/protocol.h"

namespace qyr {
namespace {

TEST(Utf8ToCodePage, ConvertsTheDecodedUnitsTo936) {
  struct Case {
    std::string bytes;
    std::string text;
    const char* what;
  } cases[] = {
      {"QyrNOR_PC_OFF\r\n", "QyrNOR_PC_OFF\r\n", "ascii with line end"},
      {"\xE4\xB8\xAD\xE6\x96\x87", "\xD6\xD0\xCE\xC4", "Chinese"},
      {"a\xE0\xB8\x81z", "a?z", "no such character: the default one"},
      {std::string("QyrNOR\0_PC_CHECK", 16), "QyrNOR", "cut at a zero byte"},
      {std::string("\0abc", 4), "", "zero first byte"},
      {"", "", "empty"},
      {"\xF0\x9F\x98\x80", "?", "four-byte form"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Utf8ToCodePage(c.bytes, kCommandCodePage), c.text) << c.what;
  }
}

TEST(CommandLogFile, AppendsLinesRollsOverAtOneMebibyteAndDropsWhatItCannotWrite) {
  test::ScratchDir dir("Qyr_log");
  const std::string path = dir / "QyrDelay.log";
  CommandLogFile off;
  off.Write("never written");
  EXPECT_FALSE(off.On());
  EXPECT_FALSE(off.HasKept());

  // Kept until the flush, and the file is not held between flushes.
  CommandLogFile log(path);
  log.Write("QyrDelay started");
  log.Write("TCP 127.0.0.1:5 QyrNOR_PC_TEST -> OK");
  EXPECT_TRUE(log.HasKept());
  EXPECT_FALSE(test::FileExists(path));
  log.Flush();
  EXPECT_FALSE(log.HasKept());
  EXPECT_EQ(test::LogEvents(test::ReadFileBytes(path)),
            (std::vector<std::string>{"QyrDelay started", "TCP 127.0.0.1:5 QyrNOR_PC_TEST -> OK"}));
  EXPECT_TRUE(DeleteFileW(Utf8ToWide(path).c_str()));

  // Nearly full: the next flush moves everything to the old file, which keeps one generation.
  const std::string old(kLogLimitBytes - 20, 'x');
  test::WriteFileBytes(dir / "QyrDelay.log.1", "older still");
  test::WriteFileBytes(path, old);
  log.Write("UDP 127.0.0.1:5 QyrNOR_PC_CHECK -> none");
  log.Flush();
  EXPECT_EQ(test::ReadFileBytes(dir / "QyrDelay.log.1"), old);
  EXPECT_EQ(test::LogEvents(test::ReadFileBytes(path)),
            std::vector<std::string>{"UDP 127.0.0.1:5 QyrNOR_PC_CHECK -> none"});

  // A flood is written as it comes in blocks, not all kept: nothing is lost.
  const std::string event(100, 'e');
  const std::size_t flood = kLogKeptBytes / event.size() + 10;
  for (std::size_t i = 0; i < flood; ++i) log.Write(event);
  EXPECT_LT(test::LogEvents(test::ReadFileBytes(path)).size(), flood + 1);
  EXPECT_GT(test::LogEvents(test::ReadFileBytes(path)).size(), 1u);
  log.Flush();
  EXPECT_EQ(test::LogEvents(test::ReadFileBytes(path)).size(), flood + 1);

  // A log that cannot be written (a folder in its place: the tests run as root, which ignores
  // read-only files) loses what one flush carried, and only that.
  CommandLogFile blocked(dir / "blocked.log");
  CreateDirectoryW(Utf8ToWide(blocked.Path()).c_str(), nullptr);
  blocked.Write("lost");
  blocked.Flush();
  RemoveDirectoryW(Utf8ToWide(blocked.Path()).c_str());
  blocked.Write("kept");
  blocked.Flush();
  EXPECT_EQ(test::LogEvents(test::ReadFileBytes(blocked.Path())), std::vector<std::string>{"kept"});

  // An old file that cannot be written (a folder in its place): the log keeps its newest half
  // and goes on, flush after flush, instead of stopping for good.
  CommandLogFile stuck(dir / "stuck.log");
  CreateDirectoryW(Utf8ToWide(stuck.OldPath()).c_str(), nullptr);
  std::string full;
  for (int i = 0; full.size() < kLogLimitBytes - 40; ++i) {
    full += LogLine({2026, 12, 8, 9, 0, 0, 0}, "line " + std::to_string(i));
  }
  test::WriteFileBytes(stuck.Path(), full);
  for (const char* event : {"first after", "second after"}) {
    stuck.Write(event);
    stuck.Flush();
  }
  const std::vector<std::string> kept = test::LogEvents(test::ReadFileBytes(stuck.Path()));
  ASSERT_GT(kept.size(), 2u);
  const std::vector<std::string> newest_half =
      test::LogEvents(full.substr(NewestHalfStart(full)));
  EXPECT_EQ(std::vector<std::string>(kept.begin(), kept.end() - 2), newest_half);
  EXPECT_EQ(std::vector<std::string>(kept.end() - 2, kept.end()),
            (std::vector<std::string>{"first after", "second after"}));
}

}  // namespace
}  // namespace qyr
