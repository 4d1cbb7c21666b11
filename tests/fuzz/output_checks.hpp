// Completeness checks of the files the plotting library writes, for the fuzz
// target of the library: each file is recognised by its contents and read
// back by the rules of its format, independently of the writers.
#pragma once

#include <string>

namespace fuzz {

// Empty when `bytes` are a complete file of one of the library's output
// formats; otherwise what is wrong with them.
std::string check_output(const std::string& bytes);

} // namespace fuzz
