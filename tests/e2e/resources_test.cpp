// What Explorer, the loader and the installer read from the built QyrDelay.exe itself.
#include <set>
#include <string>
#include <vector>

#include <windows.h>

#include "base/wide_win.h"
#include "qyr_version.h"
#include "test_support_win.h"

#include <gtest/gtest.h>

namespace qyr {
namespace {

class BuiltExe : public ::testing::Test {
 protected:
  void SetUp() override {
    module_ = LoadLibraryExW(Utf8ToWide(path_).c_str(), nullptr,
                             LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    ASSERT_NE(module_, nullptr) << path_;
  }
  void TearDown() override {
    if (module_ != nullptr) FreeLibrary(module_);
  }

  std::string Resource(LPCWSTR type, LPCWSTR name) const {
    HRSRC found = FindResourceW(module_, name, type);
    if (found == nullptr) return {};
    HGLOBAL loaded = LoadResource(module_, found);
    const auto* bytes = static_cast<const char*>(LockResource(loaded));
    return bytes == nullptr ? std::string() : std::string(bytes, SizeofResource(module_, found));
  }

  std::string path_ = test::BuildDir() + "QyrDelay.exe";
  HMODULE module_ = nullptr;
};

TEST_F(BuiltExe, ManifestAsksForStylesNoElevationAndSystemDpi) {
  const std::string manifest = Resource(RT_MANIFEST, MAKEINTRESOURCEW(1));
  ASSERT_FALSE(manifest.empty());
  for (const char* needle : {
           "name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\"", "level=\"asInvoker\"",
           ">true</dpiAware>",
           "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}",  // 7
           "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}",  // 8
           "{1f676c76-80e1-4239-95bb-83d0f6d0da78}",  // 8.1
           "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}",  // 10 and 11
       }) {
    EXPECT_NE(manifest.find(needle), std::string::npos) << needle;
  }
  EXPECT_EQ(manifest.find("requireAdministrator"), std::string::npos);
}

TEST_F(BuiltExe, VersionBlockCarriesTheProjectVersionAndNames) {
  const std::wstring file = Utf8ToWide(path_);
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeW(file.c_str(), &ignored);
  ASSERT_GT(size, 0u);
  std::vector<char> block(size);
  ASSERT_TRUE(GetFileVersionInfoW(file.c_str(), 0, size, block.data()));

  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT len = 0;
  ASSERT_TRUE(VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &len));
  EXPECT_EQ(fixed->dwFileVersionMS,
            static_cast<DWORD>(MAKELONG(QYR_VERSION_MINOR, QYR_VERSION_MAJOR)));
  EXPECT_EQ(fixed->dwFileVersionLS, static_cast<DWORD>(MAKELONG(0, QYR_VERSION_PATCH)));
  EXPECT_EQ(fixed->dwProductVersionMS, fixed->dwFileVersionMS);

  auto text = [&](const wchar_t* key) {
    wchar_t* value = nullptr;
    UINT chars = 0;
    const std::wstring query = std::wstring(L"\\StringFileInfo\\080404B0\\") + key;
    if (!VerQueryValueW(block.data(), query.c_str(), reinterpret_cast<void**>(&value), &chars))
      return std::string("<missing>");
    return WideToUtf8(value);
  };
  EXPECT_EQ(text(L"FileDescription"), "延时启动器-QyrNOR展厅中控系统");
  EXPECT_EQ(text(L"ProductName"), "QyrDelay");
  EXPECT_EQ(text(L"FileVersion"), QYR_VERSION_TEXT);
  EXPECT_EQ(text(L"ProductVersion"), QYR_VERSION_TEXT);
  EXPECT_EQ(text(L"OriginalFilename"), "QyrDelay.exe");
}

#pragma pack(push, 2)
struct GroupIconEntry {
  BYTE width, height, colors, reserved;
  WORD planes, bit_count;
  DWORD bytes;
  WORD id;
};
#pragma pack(pop)

TEST_F(BuiltExe, IconOneHasAllSixSizesAndEachLoads) {
  const std::string group = Resource(RT_GROUP_ICON, MAKEINTRESOURCEW(1));
  ASSERT_GE(group.size(), 6u);
  const WORD count = *reinterpret_cast<const WORD*>(group.data() + 4);
  ASSERT_EQ(group.size(), 6 + count * sizeof(GroupIconEntry));

  std::set<int> sizes;
  for (WORD i = 0; i < count; ++i) {
    GroupIconEntry entry;
    memcpy(&entry, group.data() + 6 + i * sizeof(GroupIconEntry), sizeof(entry));
    const int side = entry.width == 0 ? 256 : entry.width;  // 0 stands for 256
    sizes.insert(side);
    EXPECT_EQ(Resource(RT_ICON, MAKEINTRESOURCEW(entry.id)).size(), entry.bytes) << side;

    HICON icon = static_cast<HICON>(
        LoadImageW(module_, MAKEINTRESOURCEW(1), IMAGE_ICON, side, side, LR_DEFAULTCOLOR));
    ASSERT_NE(icon, nullptr) << side;
    ICONINFO info = {};
    ASSERT_TRUE(GetIconInfo(icon, &info));
    BITMAP bitmap = {};
    GetObjectW(info.hbmColor != nullptr ? info.hbmColor : info.hbmMask, sizeof(bitmap), &bitmap);
    EXPECT_EQ(bitmap.bmWidth, side);
    if (info.hbmColor != nullptr) DeleteObject(info.hbmColor);
    if (info.hbmMask != nullptr) DeleteObject(info.hbmMask);
    DestroyIcon(icon);
  }
  EXPECT_EQ(sizes, (std::set<int>{16, 32, 48, 64, 128, 256}));
}

}  // namespace
}  // namespace qyr
