// The built program and the registry: the player preset at start-up, the Run value on Save.
#include <gtest/gtest.h>
#include <windows.h>

#include "app/layout.h"
#include "base/wide_win.h"
#include "e2e_support_win.h"
#include "test_support_win.h"

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
  ASSERT_TRUE(test::PumpUntil([&] { return program.ControlText(ControlId::EditDelay1) == "10"; },
                              std::chrono::seconds(10)));
  PostMessageW(program.Control(ControlId::BitBtn1), BM_CLICK, 0, 0);
  EXPECT_TRUE(test::PumpUntil(
      [&] { return program.ControlText(ControlId::LabelStatus) == "保存成功,正在测试运行..."; },
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

}  // namespace
}  // namespace qyr
