// Level check, argument checks and small text helpers shared by all modules.
#ifndef PLOTIX_CORE_HELPERS_H
#define PLOTIX_CORE_HELPERS_H

#include <string>
#include <string_view>

#include "core/console.h" // the console and the clock, used with these everywhere

namespace plotix::detail {

// Level check: 0 if minimum <= level <= maximum, else warning 3 and 1.
int jqqlev(int minimum, int maximum, std::string_view name);
int chkini(std::string_view name); // jqqlev(1, 3, name)
// Range check: 0 if value >= minimum and (maximum < minimum or value <= maximum),
// else warning 2 with the value and 1.
int jqqval(int value, int minimum, int maximum);
// Keyword lookup in a list of count 4-character entries spaced 5 apart.
// Returns the 1-based position, or 0 after warning 2 with the keyword.
int jqqind(std::string_view list, int count, std::string_view keyword);
int jqquni(int n); // n / unit divisor, rounded
int jqqyvl(int y); // y, or H - y with the lower-left origin option

// Copies at most n characters of source into destination.
void qqcopy(std::string& destination, std::string_view source, std::size_t n);
void upstr(std::string& s);     // upper case in place (ASCII letters only)
int trmlen(std::string_view s); // length without trailing blanks
void dsblnk(std::string& s);    // removes all blanks
// Removes the blanks from the first n characters in place; returns how many
// characters of them remain.
int dsblnk(std::string& s, int n);
std::string keyword4(std::string_view keyword); // first 4 characters, upper case, blank padded

} // namespace plotix::detail

#endif
