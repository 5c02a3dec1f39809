// The launch engine against the real profile API, processes and timers of Windows (Wine).
#include <string>
#include <utility>
#include <vector>

#include <windows.h>

#include "app/main_window_win.h"
#include "base/errors.h"
#include "base/wide_win.h"
#include "form_fixture_win.h"
#include "launch/settings_win.h"

#include <gtest/gtest.h>

namespace qyr {
namespace {

using test::ScratchDir;
using Form = test::FormFixture;

std::string ReadIni(const std::string& ini, const char* key) {
  wchar_t buf[256] = {};
  GetPrivateProfileStringW(L"AUTORUN", Utf8ToWide(key).c_str(), L"<missing>", buf, 256,
                           Utf8ToWide(ini).c_str());
  return WideToUtf8(buf);
}

TEST(Settings, DefaultsWithoutAFile) {
  ScratchDir dir("QyrDelay_defaults");
  Form f(dir);
  const SlotArray& s = f.form.Launch().Slots();
  EXPECT_EQ(s[0].Path, dir / "QyrPlayer_V3.exe");
  const std::int32_t delays[] = {10, 15, 20, 25};
  for (int i = 0; i < 4; ++i) EXPECT_EQ(s[i].Delay, delays[i]) << i;
  EXPECT_EQ(s[1].Path, "");
  // Row 1 shows the slot; rows 2 to 4 keep the window's own texts.
  EXPECT_EQ(f.form.ControlText(ControlId::kFile1Edit), dir / "QyrPlayer_V3.exe");
  EXPECT_EQ(f.form.ControlText(ControlId::kDelay1Edit), "10");
  EXPECT_EQ(f.form.ControlText(ControlId::kDelay3Edit), "18");
  EXPECT_EQ(f.form.ControlText(ControlId::kStatusLine), "延时启动正在运行....");
  EXPECT_FALSE(test::FileExists(dir / "QyrDelay.ini"));  // reading creates nothing
}

TEST(Settings, HexInvalidAndShortValuesFromTheFile) {
  ScratchDir dir("QyrDelay_values");
  test::WriteFileBytes(dir / "QyrDelay.ini",
                       "[AUTORUN]\r\nFile0=C:\r\nDelay0=0x1E\r\nFile1=D:\\b.exe\r\nDelay1=abc\r\n"
                       "File2=D:\\c.exe\r\nDelay2=$1E\r\nDelay3=12s\r\n");
  Form f(dir);
  const SlotArray& s = f.form.Launch().Slots();
  EXPECT_EQ(s[0].Path, "C:");
  EXPECT_EQ(s[0].Delay, 30);
  EXPECT_EQ(s[1].Delay, 15);
  EXPECT_EQ(s[2].Delay, 30);
  EXPECT_EQ(s[3].Delay, 25);
  // A two-character path stays in its slot but its row keeps the initial texts.
  EXPECT_EQ(f.form.ControlText(ControlId::kFile1Edit), "QyrPlayer_V3.exe");
  EXPECT_EQ(f.form.ControlText(ControlId::kDelay1Edit), "10");
  EXPECT_EQ(f.form.ControlText(ControlId::kFile2Edit), "D:\\b.exe");
  EXPECT_EQ(f.form.ControlText(ControlId::kDelay2Edit), "15");
  EXPECT_EQ(f.form.ControlText(ControlId::kDelay3Edit), "30");
}

TEST(Settings, SaveTrimsAndWritesEveryKey) {
  ScratchDir dir("QyrDelay_save");
  Form f(dir);
  f.form.SetControlText(ControlId::kFile2Edit, "  D:\\展厅\\play.exe ");
  f.form.SetControlText(ControlId::kDelay2Edit, "  12  ");
  f.form.SetControlText(ControlId::kDelay3Edit, "$10");
  f.SaveRows();
  const std::string ini = dir / "QyrDelay.ini";
  EXPECT_EQ(ReadIni(ini, "Delay1"), "12");
  EXPECT_EQ(ReadIni(ini, "File1"), "D:\\展厅\\play.exe");
  EXPECT_EQ(ReadIni(ini, "Delay2"), "16");
  EXPECT_EQ(ReadIni(ini, "File3"), "");
  EXPECT_EQ(ReadIni(ini, "Delay3"), "20");
  EXPECT_EQ(f.form.Launch().Slots()[1].Delay, 12);
  // Stored in the system code page (936), as every other program reading the file expects.
  EXPECT_NE(test::ReadFileBytes(ini).find("\xD5\xB9\xCC\xFC"), std::string::npos);
}

// A Save refused for what was typed leaves the file as it was; the rows before the one at fault
// are taken, and a control character is found before any delay is read.
TEST(Settings, ARefusedSaveLeavesTheFile) {
  using Typed = std::vector<std::pair<ControlId, std::string>>;
  const struct {
    const char* folder;
    std::string before;
    Typed typed;
    bool control_character;  // else a bad delay
    std::string error;
    std::size_t slot;
    std::string path;  // what that slot holds after
  } cases[] = {
      {"QyrDelay_bad",
       "[AUTORUN]\r\nDelay0=7\r\n",
       {{ControlId::kFile3Edit, "D:\\x.exe"}, {ControlId::kDelay3Edit, "12s"}},
       false,
       "'12s' is not a valid integer value",
       2,
       "D:\\x.exe"},  // taken before the failing delay
      {"QyrDelay_crlf",
       "[AUTORUN]\r\nFile0=D:\\a.exe\r\n[REMOTE]\r\nAllowFrom=127.0.0.1\r\n",
       {{ControlId::kFile2Edit, "C:\\p.exe\r\n[REMOTE]\r\nAllowFrom=\r\n"},
        {ControlId::kDelay1Edit, "12s"}},  // a later row's path is named first
       true,
       "程序2的路径含有控制字符(如回车、换行),不能保存",
       1,
       ""},  // nothing taken
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.folder);
    ScratchDir dir(c.folder);
    const std::string ini = dir / "QyrDelay.ini";
    test::WriteFileBytes(ini, c.before);
    Form f(dir);
    const std::string before = test::ReadFileBytes(ini);
    for (const auto& [id, text] : c.typed) f.form.SetControlText(id, text);
    EXPECT_EQ(c.control_character ? f.SaveRowsFailure<UnsafeTextError>()
                                  : f.SaveRowsFailure<ConvertError>(),
              c.error);
    EXPECT_EQ(test::ReadFileBytes(ini), before);
    EXPECT_EQ(f.form.Launch().Slots()[c.slot].Path, c.path);
  }
}

// A Save writes the whole file anew; what it holds comes out as the profile API would write it,
// byte for byte, in the file's own encoding, unrepresentable characters and all.
TEST(Settings, SaveWritesTheBytesTheProfileApiWrites) {
  const SlotArray slots = {
      {{"C:\\展厅\\播放器.exe", 10}, {"", 15}, {"D:\\é€\xF0\x9F\x98\x80.pptx", -20}, {"", 25}}};
  const std::string utf16_remote("\xFF\xFE[\0R\0E\0M\0O\0T\0E\0]\0\r\0\n\0X\0=\0\x55\x5C\r\0\n\0",
                                 32);
  const std::optional<std::string> befores[] = {
      std::nullopt,
      "",
      "[AUTORUN]\r\nFile0=old\r\n",
      "[REMOTE]\r\nAllowFrom=1.2.3.4\r\nLog=1\r\n[AUTORUN]\r\nFile0=a\r\nRestart0=5\r\nDelay0=1\r\n"
      "File1=\r\nDelay1=15\r\nFile2=\r\nDelay2=20\r\nFile3=\r\nDelay3=25\r\n[POWER]\r\nOffAt=21:"
      "30\r\n",
      "[REMOTE]\r\nAllowFrom=1.2.3.4",
      "[POWER]\r\nOffAt=7:05\r\n[REMOTE]\r\nX=\xD5\xB9\xCC\xFC\r\n",
      "\xEF\xBB\xBF[REMOTE]\r\nX=\xE5\xB1\x95\r\n[AUTORUN]\r\nFile0=\xE5\xB1\x95\r\n",
      utf16_remote,
  };
  for (const auto& before : befores) {
    SCOPED_TRACE(before ? *before : "no file");
    ScratchDir api_dir("QyrDelay_api"), save_dir("QyrDelay_whole");
    const std::string by_api = api_dir / "QyrDelay.ini", by_save = save_dir / "QyrDelay.ini";
    if (before) {
      test::WriteFileBytes(by_api, *before);
      test::WriteFileBytes(by_save, *before);
    }
    for (int i = 0; i < kSlotCount; ++i) {
      const LaunchSlot& slot = slots[static_cast<std::size_t>(i)];
      ASSERT_TRUE(WritePrivateProfileStringW(L"AUTORUN", Utf8ToWide(FileKey(i)).c_str(),
                                             Utf8ToWide(slot.Path).c_str(),
                                             Utf8ToWide(by_api).c_str()));
      ASSERT_TRUE(WritePrivateProfileStringW(L"AUTORUN", Utf8ToWide(DelayKey(i)).c_str(),
                                             Utf8ToWide(DelayText(slot.Delay)).c_str(),
                                             Utf8ToWide(by_api).c_str()));
    }
    ASSERT_TRUE(WriteSlots(by_save, slots));
    EXPECT_EQ(test::ReadFileBytes(by_save), test::ReadFileBytes(by_api));
    EXPECT_FALSE(test::FileExists(by_save + ".tmp"));
  }
}

TEST(Settings, UnwritableFileRaisesUnableToWrite) {
  // The tests run as root, which ignores read-only files; a folder in the file's place is
  // refused to anyone.
  ScratchDir dir("QyrDelay_ro");
  const std::string ini = dir / "QyrDelay.ini";
  CreateDirectoryW(Utf8ToWide(ini).c_str(), nullptr);
  Form f(dir);
  EXPECT_EQ(f.SaveRowsFailure<IniFileError>(), "Unable to write to " + ini);
}

TEST(Schedule, StartsTheProgramAtItsTickAndReportsIt) {
  ScratchDir dir("QyrDelay_tick");
  const std::string probe = dir / "probe.exe";
  ASSERT_TRUE(test::CopyFileTo(test::BuildDir() + "launch_probe.exe", probe));
  const std::string missing = dir / "missing.exe";
  test::WriteFileBytes(dir / "QyrDelay.ini", "[AUTORUN]\r\nFile0=\r\nFile2=" + probe +
                                                 "\r\nDelay2=3\r\nFile3=" + missing +
                                                 "\r\nDelay3=4\r\n");
  Form f(dir);
  for (int tick = 0; tick < 3; ++tick) f.form.Launch().Tick();
  EXPECT_FALSE(test::FileExists(probe + ".started"));
  EXPECT_EQ(f.form.ControlText(ControlId::kUptimeLabel), "2");
  f.form.Launch().Tick();
  EXPECT_TRUE(test::FileExists(probe + ".started"));
  EXPECT_EQ(f.form.ControlText(ControlId::kStatusLine), "3>已启动:" + probe);
  f.form.Launch().Tick();
  EXPECT_EQ(f.form.ControlText(ControlId::kStatusLine), "4>无法打开:" + missing);
  EXPECT_EQ(f.form.Launch().ScheduleState().Ticks(), 5);
}

// A path longer than the system can start, and one cut on reading, is reported as one that
// cannot be opened, and nothing is handed to the system.
TEST(Schedule, APathTooLongToStartIsNotStarted) {
  ScratchDir dir("QyrDelay_long");
  const std::string document = "C:\\" + std::string(1000, 'd') + ".pptx";
  const std::string program = "C:\\" + std::string(100 * 1024, 'p') + ".exe";
  test::WriteFileBytes(
      dir / "QyrDelay.ini",
      "[AUTORUN]\r\nFile0=" + document + "\r\nDelay0=1\r\nFile1=" + program + "\r\nDelay1=2\r\n");
  Form f(dir);
  const std::string cut = f.form.Launch().Slots()[1].Path;
  ASSERT_EQ(cut, program.substr(0, kProfileValueMax));  // its ".exe" is lost
  f.Ticks(2);
  EXPECT_EQ(f.form.ControlText(ControlId::kStatusLine), "1>无法打开:" + document);
  f.Ticks(1);
  EXPECT_EQ(f.form.ControlText(ControlId::kStatusLine), "2>无法打开:" + cut);
  const std::string reply = StatusReply(f.form.Launch().UptimeMs(), f.form.Launch().StateTexts());
  EXPECT_EQ(reply.substr(reply.find(" 1=")), " 1=failed 2=failed 3=none 4=none");
}

TEST(Schedule, DropsToOneTickAMinuteAfter200) {
  ScratchDir dir("QyrDelay_slow");
  test::WriteFileBytes(dir / "QyrDelay.ini", "[AUTORUN]\r\nDelay0=-1\r\n");  // nothing starts
  Form f(dir);
  f.Ticks(199);
  f.Fire(kTimerTask);
  const WindowTimer& timer = f.form.Launch().TaskTimer();
  EXPECT_EQ(timer.Interval(), 1000u);
  EXPECT_EQ(f.form.ControlText(ControlId::kStatusLine), "延时启动正在运行....");
  f.Fire(kTimerTask);
  EXPECT_EQ(f.form.Launch().ScheduleState().Ticks(), 201);
  EXPECT_EQ(timer.Interval(), 60000u);
  EXPECT_TRUE(timer.Enabled());
  EXPECT_EQ(f.form.ControlText(ControlId::kStatusLine), "进入慢模式,计时器频率由1秒改为60秒");
}

TEST(Schedule, TheTimerTicksOnItsOwn) {
  ScratchDir dir("QyrDelay_timer");
  Form f(dir, {.schedule = true});
  EXPECT_TRUE(test::PumpUntil([&] { return f.form.Launch().ScheduleState().Ticks() >= 2; },
                              std::chrono::seconds(10)));
  EXPECT_EQ(f.form.ControlText(ControlId::kUptimeLabel), "1");
}

}  // namespace
}  // namespace qyr
