// The dialogue's answers read from its input.
#pragma once

#include <istream>
#include <ostream>
#include <string>
#include <string_view>

namespace fasogram {

// Reads the answers of the dialogue, one value per question, list-directed:
// each read starts on a fresh line; leading blanks are skipped; the value
// ends at a blank, a comma or the end of the line; an empty line is skipped;
// the rest of the line is discarded.  Invalid input and end of input raise
// FatalError naming the question.  A real number written with a decimal
// comma ("0,5", which would read as 0) is refused with a note on the prompt
// stream and the question asked again.
class AnswerReader {
  public:
    // `prompt_out` is flushed before every read so the question is visible.
    AnswerReader(std::istream& in, std::ostream& prompt_out) : in_(in), out_(prompt_out) {}

    // A one-character answer: the first character of the word typed.
    char read_char(std::string_view question);
    double read_real(std::string_view question);
    int read_int(std::string_view question);

    // The raw value of the next answer (may be empty when the line starts
    // with a comma).
    std::string read_value(std::string_view question);

  private:
    struct Answer {
        std::string value; // the answer as read_value gives it
        std::string after; // what follows it up to a blank (from its comma on), if anything
    };
    Answer next_answer(std::string_view question);

    std::istream& in_;
    std::ostream& out_;
};

} // namespace fasogram
