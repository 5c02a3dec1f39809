#include <iostream>

#include "console.h"

namespace qyrsend {

void PrintOut(const std::string& utf8) { std::cout << utf8 << std::flush; }
void PrintErr(const std::string& utf8) { std::cerr << utf8 << std::flush; }

}  // namespace qyrsend
