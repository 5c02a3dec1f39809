// The built program and the registry: the player preset at start-up, the Run value on Save, and
// save mode, which a Save without the rights starts elevated to write the file and the value.
#include <array>
#include <optional>
#include <string>
#include <vector>

#include <windows.h>

#include "app/layout.h"
#include "app/save_mode.h"
#include "base/command_line.h"
#include "base/handles_win.h"
#include "base/wide_win.h"
#include "e2e_support_win.h"
#include "test_support_win.h"

#include <gtest/gtest.h>

namespace qyr {
namespace {

using test::ScratchDir;

const wchar_t* kPlayer = L"SOFTWARE\\DefaultCompany\\QyrPlayer_V3";
const wchar_t* kRun = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
const wchar_t* kValue = L"QyrNOR_Delay_Luancher";

void SetPlayerDword(const wchar_t* name, DWORD v) {
  RegSetKeyValueW(HKEY_CURRENT_USER, kPlayer, name, REG_DWORD, &v, sizeof(v));
}

TEST(RegistryStartup, ThePlayerStartedOnTheFirstTickFindsTheFullScreenPreset) {
  RegDeleteTreeW(HKEY_CURRENT_USER, kPlayer);
  SetPlayerDword(L"Screenmanager Fullscreen mode_h3630240806", 0);
  SetPlayerDword(L"Screenmanager Resolution Height_h2627697771", 1080);
  SetPlayerDword(L"Screenmanager Resolution Width_h182942802", 1920);

  ScratchDir dir("QyrDelay_preset");
  const std::string probe = dir / "QyrPlayer_V3.exe";
  ASSERT_TRUE(test::CopyFileTo(test::BuildDir() + "player_probe.exe", probe));
  test::WriteFileBytes(dir / "QyrDelay.ini", "[AUTORUN]\r\nFile0=" + probe + "\r\nDelay0=0\r\n");
  test::RunningProgram program(dir);
  ASSERT_TRUE(program.WaitForWindow());
  // The probe writes its report in one go; it is complete once its last line is there.
  ASSERT_TRUE(test::PumpUntil(
      [&] { return test::ReadFileBytes(probe + ".player").find("width=") != std::string::npos; },
      std::chrono::seconds(15)));
  EXPECT_EQ(test::ReadFileBytes(probe + ".player"),
            "fullscreen=dword:1\nheight=absent\nwidth=absent\n");
  EXPECT_TRUE(program.Close());
  RegDeleteTreeW(HKEY_CURRENT_USER, kPlayer);
  RegDeleteKeyW(HKEY_CURRENT_USER, kPlayer);
}

TEST(RegistryStartup, SaveRegistersAPathWithBlanksWithoutQuotes) {
  HKEY run = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, kRun, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &run,
                            nullptr),
            ERROR_SUCCESS);
  RegDeleteValueW(run, kValue);

  ScratchDir dir("Qyr Show Room");
  test::RunningProgram program(dir);
  ASSERT_TRUE(program.WaitForWindow());
  ASSERT_TRUE(test::PumpUntil([&] { return program.ControlText(ControlId::kDelay1Edit) == "10"; },
                              std::chrono::seconds(10)));
  PostMessageW(program.Control(ControlId::kSaveButton), BM_CLICK, 0, 0);
  EXPECT_TRUE(test::PumpUntil(
      [&] { return program.ControlText(ControlId::kStatusLine) == "保存成功,正在测试运行..."; },
      std::chrono::seconds(10)));

  wchar_t data[MAX_PATH * 2] = {};
  DWORD size = sizeof(data), type = 0;
  EXPECT_EQ(RegQueryValueExW(run, kValue, nullptr, &type, reinterpret_cast<BYTE*>(data), &size),
            ERROR_SUCCESS);
  EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
  EXPECT_EQ(WideToUtf8(data), program.exe());
  EXPECT_NE(program.exe().find(' '), std::string::npos);
  EXPECT_TRUE(program.Close());
  RegDeleteValueW(run, kValue);
  RegCloseKey(run);
}

std::optional<std::string> RunValue() {
  wchar_t data[MAX_PATH * 2] = {};
  DWORD size = sizeof(data);
  if (RegGetValueW(HKEY_LOCAL_MACHINE, kRun, kValue, RRF_RT_REG_SZ, nullptr, data, &size) !=
      ERROR_SUCCESS) {
    return std::nullopt;
  }
  return WideToUtf8(data);
}

void SetRunValue(const std::string& text) {
  const std::wstring data = Utf8ToWide(text);
  RegSetKeyValueW(HKEY_LOCAL_MACHINE, kRun, kValue, REG_SZ, data.c_str(),
                  static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t)));
}

// The keys of [AUTORUN] as the profile API reads them back, as "Key=value"; "-" for a missing one.
std::vector<std::string> SavedKeys(const std::string& ini) {
  std::vector<std::string> keys;
  for (const char* key :
       {"File0", "Delay0", "File1", "Delay1", "File2", "Delay2", "File3", "Delay3"}) {
    wchar_t buf[512] = {};
    GetPrivateProfileStringW(L"AUTORUN", Utf8ToWide(key).c_str(), L"-", buf, 512,
                             Utf8ToWide(ini).c_str());
    keys.push_back(std::string(key) + "=" + WideToUtf8(buf));
  }
  return keys;
}

TEST(RegistrySaveMode, WritesWhatSaveWritesAndEndsWithItsOutcome) {
  ScratchDir dir("QyrNOR 保存");
  const std::string exe = dir / "QyrDelay.exe";
  const std::string ini = dir / "QyrDelay.ini";
  ASSERT_TRUE(test::CopyFileTo(test::BuildDir() + "QyrDelay.exe", exe));
  const std::string old_run = "C:\\Old\\QyrDelay.exe";
  const std::string before = "[AUTORUN]\r\nFile0=old.exe\r\n";
  const std::array<RowText, kSlotCount> typed = {{{"C:\\Show Room\\播放器 \"V3\"\\", " 12 "},
                                                  {"D:\\展厅\\欢迎.pptx", "$1F"},
                                                  {"", "0"},
                                                  {"\\\\pc\\share\\", "-3"}}};
  const std::vector<std::string> saved = {"File0=C:\\Show Room\\播放器 \"V3\"\\",
                                          "Delay0=12",
                                          "File1=D:\\展厅\\欢迎.pptx",
                                          "Delay1=31",
                                          "File2=",
                                          "Delay2=0",
                                          "File3=\\\\pc\\share\\",
                                          "Delay3=-3"};
  const std::array<RowText, kSlotCount> bad = {{{"a", "1"}, {"b", "2"}, {"c", "12s"}, {"d", "4"}}};
  const std::array<RowText, kSlotCount> crlf = {
      {{"C:\\p.exe\r\n[REMOTE]\r\nAllowFrom=\r\n", "10"}, {"b", "2"}, {"c", "3"}, {"d", "4"}}};
  using enum SaveOutcome;
  const struct {
    const char* what;
    std::vector<std::string> args;  // after the program name
    bool held;                      // the file is open elsewhere, writing not shared
    bool running;                   // the program itself runs meanwhile (mutex, window, port)
    SaveOutcome outcome;
    std::vector<std::string> keys;   // empty: the file is as it was
    std::optional<std::string> run;  // the Run value afterwards; it was old_run before
  } cases[] = {
      {"saved, autostart", SaveModeArguments({typed, true}), false, true, kSaved, saved, exe},
      {"saved, no autostart", SaveModeArguments({typed, false}), false, false, kSaved, saved,
       std::nullopt},
      {"bad delay", SaveModeArguments({bad, true}), false, false, kBadDelay, {}, old_run},
      {"control character", SaveModeArguments({crlf, true}), false, false, kBadText, {}, old_run},
      {"file not writable", SaveModeArguments({typed, true}), true, false, kRefused, {}, old_run},
      {"malformed", {"--save", "a", "1"}, false, false, kBadArguments, {}, old_run},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    test::WriteFileBytes(ini, before);
    SetRunValue(old_run);
    std::optional<test::RunningProgram> program;
    if (c.running) {
      program.emplace(dir);
      ASSERT_TRUE(program->WaitForWindow());
    }
    UniqueFile held;
    if (c.held) {
      held.reset(CreateFileW(Utf8ToWide(ini).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                             OPEN_EXISTING, 0, nullptr));
    }
    const KernelHandle save(test::StartProcess(exe, JoinArguments(c.args)));
    ASSERT_TRUE(save);
    ASSERT_EQ(WaitForSingleObject(save.get(), 30000), WAIT_OBJECT_0);
    DWORD code = 0;
    GetExitCodeProcess(save.get(), &code);
    held.reset();
    EXPECT_EQ(code, SaveExitCode(c.outcome));
    if (c.keys.empty()) {
      EXPECT_EQ(test::ReadFileBytes(ini), before);
    } else {
      EXPECT_EQ(SavedKeys(ini), c.keys);
    }
    EXPECT_EQ(RunValue(), c.run);
    if (program) {
      // Save mode takes neither the running program's mutex nor its port: both go on.
      EXPECT_TRUE(program->Running());
      EXPECT_TRUE(program->Close());
    }
  }
  RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kRun, kValue);
}

}  // namespace
}  // namespace qyr
