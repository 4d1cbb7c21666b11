// The dialogue's console output.
#pragma once

#include <initializer_list>
#include <ostream>
#include <string>
#include <string_view>

namespace fasogram {

// One item of a console line: a text, an integer or a double.
class Item {
  public:
    Item(const char* text) : kind_(Kind::text), text_(text) {}
    Item(std::string_view text) : kind_(Kind::text), text_(text) {}
    Item(const std::string& text) : kind_(Kind::text), text_(text) {}
    Item(int value) : kind_(Kind::integer), integer_(value) {}
    Item(long long value) : kind_(Kind::integer), integer_(value) {}
    Item(double value) : kind_(Kind::real), real_(value) {}

    // The item as it appears on the line, separators included.
    std::string render() const;

  private:
    enum class Kind { text, integer, real };
    Kind kind_;
    std::string_view text_;
    long long integer_ = 0;
    double real_ = 0.0;
};

// A double item: one blank, a minus sign or a blank, then the magnitude as
// printf "%.9G" would write it in the C locale, with a decimal point added
// when that text has none ("100." and "1.E-05").  Zero reads "  0.".
std::string format_real_item(double value);

// An integer item: one blank and the decimal digits (minus sign if negative).
std::string format_integer_item(long long value);

// A whole console line, without the line end.  A line with items begins
// with one blank; a line without items is empty.  An item that would reach
// column 80 starts a new line (which again begins with one blank).
std::string format_line(std::initializer_list<Item> items);

// Writes format_line(items) and a line end.
void write_line(std::ostream& out, std::initializer_list<Item> items);

// Hands what the dialogue wrote to `out`, and what the plotting library wrote
// on standard output, to the system.  A failed write (a full disk, a closed
// output) raises FatalError.
void flush_output(std::ostream& out);

} // namespace fasogram
