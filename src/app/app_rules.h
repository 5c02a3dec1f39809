#pragma once
// Start-up rules of the program: its fixed names and texts, and the two tests on its own path.
#include <string>
#include <string_view>

namespace qyr {

inline constexpr const char* kMutexName = "QyrNOR_DelayEXEC";
inline constexpr const char* kMainCaption = "延时启动器-QyrNOR展厅中控系统";
inline constexpr const char* kWrongNameMessage = "EXE文件名有误,请改为QyrDelay.exe";

// The application title: the file name cut at its first ".", every later character lower-cased
// (QyrDelay.exe gives "Qyrdelay").
std::string AppTitle(std::string_view exe_path);

// The name test: the lower-cased path must hold "qyr", or the user is told to rename the file.
bool PassesNameTest(std::string_view exe_path);

// The remote-control gate: only a path holding "qyrnor" opens the listeners.
bool OpensRemoteControl(std::string_view exe_path);

}  // namespace qyr
