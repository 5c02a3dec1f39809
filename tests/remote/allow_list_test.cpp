#include "remote/allow_list.h"

#include <gtest/gtest.h>

namespace qyr {
namespace {

TEST(AllowList, ParsesEntriesOrNamesTheFirstBadOne) {
  using E = AllowListError;
  const struct {
    const char* text;
    E error;
    const char* bad_entry;
    std::vector<Ipv4Range> ranges;
  } cases[] = {
      {"", E::kNone, "", {}},
      {"  \t ", E::kNone, "", {}},
      {"192.168.1.10", E::kNone, "", {{0xC0A8010A, 32}}},
      {"192.168.1.10, 192.168.1.0/24", E::kNone, "", {{0xC0A8010A, 32}, {0xC0A80100, 24}}},
      {" 10.0.0.0/8 ,172.16.5.9/32 ", E::kNone, "", {{0x0A000000, 8}, {0xAC100509, 32}}},
      {"192.168.1.77/24", E::kNone, "", {{0xC0A80100, 24}}},  // host bits dropped
      {"0.0.0.0/0", E::kNone, "", {{0, 0}}},
      {"255.255.255.255", E::kNone, "", {{0xFFFFFFFF, 32}}},
      {"192.168.1.10,", E::kEmptyEntry, "", {}},  // a trailing comma never widens the list
      {", ,", E::kEmptyEntry, "", {}},
      {"192.168.1.10, 192.168.1", E::kBadAddress, "192.168.1", {}},
      {"192.168.1.256", E::kBadAddress, "192.168.1.256", {}},
      {"192.168.01.1", E::kBadAddress, "192.168.01.1", {}},  // octal to other readers
      {"192.168.1.1.1", E::kBadAddress, "192.168.1.1.1", {}},
      {"192.168.1.-1", E::kBadAddress, "192.168.1.-1", {}},
      {"192.168. 1.1", E::kBadAddress, "192.168. 1.1", {}},
      {"hall-pc", E::kBadAddress, "hall-pc", {}},
      {"::1", E::kBadAddress, "::1", {}},
      {"192.168.1.0/33", E::kBadPrefix, "192.168.1.0/33", {}},
      {"192.168.1.0/", E::kBadPrefix, "192.168.1.0/", {}},
      {"192.168.1.0/024", E::kBadPrefix, "192.168.1.0/024", {}},
      {"192.168.1.0/24/8", E::kBadPrefix, "192.168.1.0/24/8", {}},
      {"1.2.3.4 5.6.7.8", E::kBadAddress, "1.2.3.4 5.6.7.8", {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    const AllowList list = ParseAllowList(c.text);
    EXPECT_EQ(list.error, c.error);
    EXPECT_EQ(list.bad_entry, c.bad_entry);
    EXPECT_EQ(list.ranges, c.ranges);
  }
}

TEST(AllowList, AllowsOnlyListedSourcesAndNoOneOnABadList) {
  const struct {
    const char* text;
    const char* source;
    bool allowed;
  } cases[] = {
      {"", "8.8.8.8", true},
      {"192.168.1.10", "192.168.1.10", true},
      {"192.168.1.10", "192.168.1.11", false},
      {"192.168.1.0/24", "192.168.1.0", true},
      {"192.168.1.0/24", "192.168.1.255", true},
      {"192.168.1.0/24", "192.168.2.1", false},
      {"10.0.0.1, 192.168.0.0/16", "192.168.200.3", true},
      {"10.0.0.1, 192.168.0.0/16", "10.0.0.2", false},
      {"0.0.0.0/0", "203.0.113.9", true},
      {"127.0.0.1,bad", "127.0.0.1", false},
      {"192.168.1.0/33", "192.168.1.1", false},
      // A datagram whose sender the system did not tell: only where there is no list.
      {"", "unknown", true},
      {"0.0.0.0/0", "unknown", false},
      {"bad", "unknown", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.text) + " <- " + c.source);
    const Source source = std::string_view(c.source) == "unknown"
                              ? Source{.tcp = false, .known = false}
                              : Source{.tcp = false, .address = *ParseIpv4(c.source)};
    EXPECT_EQ(AllowsSource(ParseAllowList(c.text), source), c.allowed);
    if (source.known) {
      EXPECT_EQ(Allows(ParseAllowList(c.text), source.address), c.allowed);
    }
  }
}

TEST(AllowList, PortsAreDecimalUpTo65535) {
  const struct {
    const char* text;
    std::optional<std::uint16_t> port;
  } cases[] = {{"26908", 26908},         {"0", 0},
               {"65535", 65535},         {"65536", std::nullopt},
               {"", std::nullopt},       {"+1", std::nullopt},
               {"026908", std::nullopt}, {"2690 8", std::nullopt},
               {"123456", std::nullopt}};
  for (const auto& c : cases) EXPECT_EQ(ParsePort(c.text), c.port) << c.text;
}

TEST(AllowList, TheOffTextNamesTheBadEntry) {
  EXPECT_EQ(AllowListOffText(ParseAllowList("192.168.1.10, 192.168.1.300")),
            "远程控制已关闭:设置项AllowFrom无效 \"192.168.1.300\"");
  EXPECT_EQ(FormatIpv4(0xC0A8010A), "192.168.1.10");
}

}  // namespace
}  // namespace qyr
