// Save and start-up against the real (Wine) registry: the machine-wide Run value and the
// player's display settings. These suites share machine state with the program runs of the
// end-to-end tests, so they never run alongside them.
#include <windows.h>
#include <gtest/gtest.h>
// after <windows.h>
#include <optional>
#include <utility>
#include <vector>

#include "app/app_win.h"
#include "app/main_window_win.h"
#include "base/text.h"
#include "base/wide_win.h"
#include "form_fixture_win.h"
#include "winsys/autorun_win.h"
#include "winsys/player_preset_win.h"

#include <sddl.h>

namespace qyr {
namespace {

using test::ScratchDir;

const std::wstring kRun = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
const std::wstring kPlayer = L"SOFTWARE\\DefaultCompany\\QyrPlayer_V3";
const std::wstring kValue = L"QyrNOR_Delay_Luancher";

struct Value {
  DWORD type;
  std::vector<BYTE> data;
};

std::optional<Value> ReadValue(HKEY root, const std::wstring& key, const std::wstring& name) {
  DWORD type = 0, size = 0;
  if (RegGetValueW(root, key.c_str(), name.c_str(), RRF_RT_ANY | RRF_NOEXPAND, &type, nullptr,
                   &size) != ERROR_SUCCESS) {
    return std::nullopt;
  }
  Value v{type, std::vector<BYTE>(size)};
  RegGetValueW(root, key.c_str(), name.c_str(), RRF_RT_ANY | RRF_NOEXPAND, &type, v.data.data(),
               &size);
  v.data.resize(size);
  return v;
}

std::string StringOf(const Value& v) {
  return WideToUtf8(std::wstring(reinterpret_cast<const wchar_t*>(v.data.data()),
                                 v.data.size() / sizeof(wchar_t)));
}

DWORD ValueCount(HKEY root, const std::wstring& key) {
  HKEY k = nullptr;
  if (RegOpenKeyExW(root, key.c_str(), 0, KEY_READ, &k) != ERROR_SUCCESS) return 0;
  DWORD n = 0;
  RegQueryInfoKeyW(k, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &n, nullptr, nullptr,
                   nullptr, nullptr);
  RegCloseKey(k);
  return n;
}

bool KeyExists(HKEY root, const std::wstring& key) {
  HKEY k = nullptr;
  if (RegOpenKeyExW(root, key.c_str(), 0, KEY_READ, &k) != ERROR_SUCCESS) return false;
  RegCloseKey(k);
  return true;
}

void DeleteKey(HKEY root, const std::wstring& key) {
  RegDeleteTreeW(root, key.c_str());
  RegDeleteKeyW(root, key.c_str());
}

// The Run key as the test starts: present, without our value. Whatever else it held is put back.
class RunKey {
 public:
  RunKey() {
    HKEY k = nullptr;
    RegCreateKeyExW(HKEY_LOCAL_MACHINE, kRun.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k,
                    nullptr);
    RegDeleteValueW(k, kValue.c_str());
    for (DWORD i = 0;; ++i) {
      wchar_t name[512];
      DWORD name_len = 512, type = 0, size = 0;
      if (RegEnumValueW(k, i, name, &name_len, nullptr, &type, nullptr, &size) != ERROR_SUCCESS) {
        break;
      }
      if (auto v = ReadValue(HKEY_LOCAL_MACHINE, kRun, name)) saved_.emplace_back(name, *v);
    }
    DWORD size = 0;
    RegGetKeySecurity(k, DACL_SECURITY_INFORMATION, nullptr, &size);
    access_.resize(size);
    if (size == 0 ||
        RegGetKeySecurity(k, DACL_SECURITY_INFORMATION, access_.data(), &size) != ERROR_SUCCESS) {
      access_.clear();
    }
    RegCloseKey(k);
  }
  ~RunKey() {
    if (!access_.empty()) SetAccess(access_.data());
    HKEY k = nullptr;
    RegCreateKeyExW(HKEY_LOCAL_MACHINE, kRun.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k,
                    nullptr);
    RegDeleteValueW(k, kValue.c_str());
    for (const auto& [name, v] : saved_) {
      RegSetValueExW(k, name.c_str(), 0, v.type, v.data.data(), static_cast<DWORD>(v.data.size()));
    }
    RegCloseKey(k);
  }
  RunKey(const RunKey&) = delete;
  RunKey& operator=(const RunKey&) = delete;

  void Remove() { DeleteKey(HKEY_LOCAL_MACHINE, kRun); }

  // As a standard user sees the key: readable, not writable (Wine checks a key's access list
  // when it is opened). The list is put back with the values.
  void ReadOnly() {
    PSECURITY_DESCRIPTOR sd = nullptr;
    ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:P(A;;KRWD;;;WD)", SDDL_REVISION_1, &sd,
                                                         nullptr);
    SetAccess(sd);
    LocalFree(sd);
  }

 private:
  static void SetAccess(PSECURITY_DESCRIPTOR sd) {
    HKEY k = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kRun.c_str(), 0, WRITE_DAC, &k) != ERROR_SUCCESS) return;
    RegSetKeySecurity(k, DACL_SECURITY_INFORMATION, sd);
    RegCloseKey(k);
  }
  std::vector<std::pair<std::wstring, Value>> saved_;
  std::vector<BYTE> access_;  // the key's own access list
};

struct Form : test::FormFixture {
  using FormFixture::FormFixture;
  void Check(bool on) {
    SendMessageW(form.Control(ControlId::kAutoRunCheck), BM_SETCHECK,
                 on ? BST_CHECKED : BST_UNCHECKED, 0);
  }
  void Save() { SendMessageW(form.Control(ControlId::kSaveButton), BM_CLICK, 0, 0); }
};

std::string FullExePath() {
  const std::wstring module = Utf8ToWide(ModulePathUtf8());
  wchar_t full[MAX_PATH * 2] = {};
  GetFullPathNameW(module.c_str(), MAX_PATH * 2, full, nullptr);
  return WideToUtf8(full);
}

TEST(RegistryAutoRun, SaveWithTheBoxCheckedRegistersThisExeOnce) {
  RunKey run;
  ScratchDir dir("Qyr_autorun");
  Form f(dir);
  const DWORD before = ValueCount(HKEY_LOCAL_MACHINE, kRun);
  f.Ticks(9);
  f.Save();
  const auto v = ReadValue(HKEY_LOCAL_MACHINE, kRun, kValue);
  ASSERT_TRUE(v.has_value());
  EXPECT_EQ(v->type, static_cast<DWORD>(REG_SZ));
  EXPECT_EQ(StringOf(*v), FullExePath() + '\0');
  EXPECT_EQ(ValueCount(HKEY_LOCAL_MACHINE, kRun), before + 1);
  EXPECT_EQ(f.form.Launch().ScheduleState().Ticks(), 0);
  EXPECT_TRUE(test::FileExists(dir / "QyrDelay.ini"));
  EXPECT_EQ(f.form.ControlText(ControlId::kStatusLine), "保存成功,正在测试运行...");
  EXPECT_FALSE(IsWindowVisible(f.form.Control(ControlId::kStartupFolderButton)));

  f.Save();
  EXPECT_EQ(ValueCount(HKEY_LOCAL_MACHINE, kRun), before + 1);
  EXPECT_EQ(StringOf(*ReadValue(HKEY_LOCAL_MACHINE, kRun, kValue)), FullExePath() + '\0');

  f.Check(false);
  f.Save();
  EXPECT_FALSE(ReadValue(HKEY_LOCAL_MACHINE, kRun, kValue).has_value());
  EXPECT_EQ(ValueCount(HKEY_LOCAL_MACHINE, kRun), before);
  // Removing what is not there is no error either.
  f.Save();
  EXPECT_EQ(ValueCount(HKEY_LOCAL_MACHINE, kRun), before);
  EXPECT_EQ(f.form.ControlText(ControlId::kStatusLine), "保存成功,正在测试运行...");
  EXPECT_TRUE(SetAutoRun(kAutoRunValueName, false));
}

TEST(RegistryAutoRun, WithoutTheRunKeySaveReportsItAndOffersTheManualWay) {
  RunKey run;
  run.Remove();
  EXPECT_FALSE(SetAutoRun(kAutoRunValueName, true));
  EXPECT_TRUE(SetAutoRun(kAutoRunValueName, false));
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kRun));  // never created

  ScratchDir dir("Qyr_norun");
  Form f(dir, {.schedule = true});
  // A normal window in a corner: the box is owned by it, yet centred on the screen.
  SetWindowPos(f.form.hwnd(), nullptr, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
  ShowWindow(f.form.hwnd(), SW_SHOWNORMAL);
  std::string status_while_open;
  bool timer_while_open = true;
  test::BoxCatcher box(GetCurrentProcessId(), [&] {
    status_while_open = f.form.ControlText(ControlId::kStatusLine);
    timer_while_open = f.form.Launch().TaskTimer().Enabled();
  });
  f.Save();
  box.Stop();
  ASSERT_TRUE(box.seen());
  EXPECT_EQ(box.text(), "错误:自启动设置失败,需管理权限启动本程序,或自行手动加入启动项");
  EXPECT_EQ(box.caption(), ApplicationTitle());
  EXPECT_FALSE(box.has_stop_icon());
  EXPECT_EQ(box.owner(), f.form.hwnd());
  RECT work = {};
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
  const RECT r = box.rect();
  EXPECT_NEAR(r.left + r.right, work.left + work.right, 2);
  EXPECT_NEAR(r.top + r.bottom, work.top + work.bottom, 2);
  EXPECT_EQ(status_while_open, "错误:自启动设置失败,需管理权限启动本程序.");
  EXPECT_FALSE(timer_while_open);
  EXPECT_TRUE(f.form.Launch().TaskTimer().Enabled());
  EXPECT_TRUE(GetWindowLongPtrW(f.form.Control(ControlId::kStartupFolderButton), GWL_STYLE) &
              WS_VISIBLE);
  EXPECT_EQ(f.form.ControlText(ControlId::kStatusLine), "保存成功,正在测试运行...");
  EXPECT_TRUE(test::FileExists(dir / "QyrDelay.ini"));
}

TEST(RegistryAutoRun, ForAStandardUserOnlyAValueNamingThisExeCountsAsDone) {
  // A standard user may read the Run key that the installer filled, not write it: a value that
  // names this program, in any letter case, is done; anything else still fails, and nothing is
  // changed.
  const std::string exe = FullExePath();
  std::wstring upper = Utf8ToWide(exe);
  CharUpperBuffW(upper.data(), static_cast<DWORD>(upper.size()));
  const struct {
    const char* what;
    std::optional<std::string> stored;
    bool done;
  } cases[] = {
      {"this exe", exe, true},
      {"another copy", "C:\\QyrNOR\\Old\\QyrDelay.exe", false},
      {"this exe in small letters", AsciiLower(exe), true},
      {"this exe in capitals", WideToUtf8(upper), true},
      {"this exe quoted", "\"" + exe + "\"", false},
      {"no value", std::nullopt, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    RunKey run;
    if (c.stored) {
      const std::wstring stored = Utf8ToWide(*c.stored);
      RegSetKeyValueW(HKEY_LOCAL_MACHINE, kRun.c_str(), kValue.c_str(), REG_SZ, stored.c_str(),
                      static_cast<DWORD>((stored.size() + 1) * sizeof(wchar_t)));
    }
    run.ReadOnly();
    EXPECT_EQ(SetAutoRun(kAutoRunValueName, true), c.done);
    const auto now = ReadValue(HKEY_LOCAL_MACHINE, kRun, kValue);
    EXPECT_EQ(now.has_value(), c.stored.has_value());
    if (now && c.stored) {
      EXPECT_EQ(StringOf(*now), *c.stored + '\0');
    }
  }
}

// The player's key for one test: created with the given DWORD/string values, removed after.
class PlayerKey {
 public:
  PlayerKey() { DeleteKey(HKEY_CURRENT_USER, kPlayer); }
  ~PlayerKey() { DeleteKey(HKEY_CURRENT_USER, kPlayer); }
  PlayerKey(const PlayerKey&) = delete;
  PlayerKey& operator=(const PlayerKey&) = delete;
  void Create() {
    HKEY k = nullptr;
    RegCreateKeyExW(HKEY_CURRENT_USER, kPlayer.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k,
                    nullptr);
    RegCloseKey(k);
  }
  void SetDword(const char* name, DWORD v) {
    RegSetKeyValueW(HKEY_CURRENT_USER, kPlayer.c_str(), Utf8ToWide(name).c_str(), REG_DWORD, &v,
                    sizeof(v));
  }
  std::optional<Value> Get(const char* name) const {
    return ReadValue(HKEY_CURRENT_USER, kPlayer, Utf8ToWide(name));
  }
};

TEST(RegistryPlayerPreset, StartUpForcesFullScreenAndForgetsTheResolution) {
  PlayerKey player;
  player.Create();
  player.SetDword(kPlayerFullscreenValue, 0);
  player.SetDword(kPlayerHeightValue, 768);
  player.SetDword(kPlayerWidthValue, 1024);
  player.SetDword("UnitySelectMonitor_h17969598", 2);
  ScratchDir dir("Qyr_preset");
  Form f(dir);
  const auto full = player.Get(kPlayerFullscreenValue);
  ASSERT_TRUE(full.has_value());
  EXPECT_EQ(full->type, static_cast<DWORD>(REG_DWORD));
  EXPECT_EQ(full->data, (std::vector<BYTE>{1, 0, 0, 0}));
  EXPECT_FALSE(player.Get(kPlayerHeightValue).has_value());
  EXPECT_FALSE(player.Get(kPlayerWidthValue).has_value());
  const auto other = player.Get("UnitySelectMonitor_h17969598");
  ASSERT_TRUE(other.has_value());
  EXPECT_EQ(other->data, (std::vector<BYTE>{2, 0, 0, 0}));
}

TEST(RegistryPlayerPreset, NoKeyStaysNoKeyAndAKeyWithoutResolutionIsNoError) {
  PlayerKey player;
  {
    ScratchDir dir("Qyr_nokey");
    Form f(dir);
  }
  EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, kPlayer));

  player.Create();
  test::BoxCatcher box;
  ScratchDir dir("Qyr_nores");
  Form f(dir);  // start-up is over once the window exists: a box of it would have been seen
  box.Stop();
  EXPECT_FALSE(box.seen()) << box.text();
  EXPECT_EQ(ValueCount(HKEY_CURRENT_USER, kPlayer), 1u);
  EXPECT_TRUE(player.Get(kPlayerFullscreenValue).has_value());
}

}  // namespace
}  // namespace qyr
