// Numbered warnings, the message routing and the end-of-run summary box.
#ifndef PLOTIX_CORE_MESSAGES_H
#define PLOTIX_CORE_MESSAGES_H

#include <cstdio>
#include <string>
#include <string_view>

namespace plotix::detail {

// Counts a warning and makes its text current; returns the number.
int errmes(int number);
// Makes text the current message text (for warnings numbered above 100).
void qqserr(std::string_view text);
void warnin(int number);
void warni1(int number, int value);
// A text value is printed as printable gives it, at most 132 characters.
void warnc1(int number, std::string_view value);
// A warning about the file of that name, printed whole (as printable gives it).
void warn_file(int number, std::string_view name);

// The stream warnings and the summary go to now.
std::FILE* message_stream();
// Writes text to the message stream (marks the error file as used).
void message_write(std::string_view text);

// Summary box on the message stream; flag 0/1: no output file / output file,
// plus 10 when a non-empty error file exists.
void dprcol(int flag);
// The same contents as one text for a message box; on this platform it is
// printed on the console.
void qqmprc(int flag);
// Builds the texts of dprcol and qqmprc (test support).
std::string summary_box(int flag);
std::string summary_text(int flag);

} // namespace plotix::detail

#endif
