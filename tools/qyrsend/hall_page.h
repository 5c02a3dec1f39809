#pragma once
// The hall page: one HTML file with its CSS and JavaScript, served from the binary (halls are
// offline, there is no file beside it).
#include <string_view>

namespace qyrsend {

std::string_view HallPage();

}  // namespace qyrsend
