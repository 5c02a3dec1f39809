#pragma once
// qyrsend's output: UTF-8 text to the standard streams, shown right on a Windows console too.
#include <string>

namespace qyrsend {

void PrintOut(const std::string& utf8);
void PrintErr(const std::string& utf8);

}  // namespace qyrsend
