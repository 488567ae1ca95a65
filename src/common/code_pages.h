// Text that a console tool wrote in one of the system's code pages, read
// back as UTF-8.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace nuv {

// `bytes` read in the console's output code page (when this process has a
// console), the OEM code page and the ANSI code page, in that order; each
// only when the bytes decode in it without a replacement character. Empty
// bytes have no reading.
std::vector<std::string> code_page_readings(std::string_view bytes);

}  // namespace nuv
