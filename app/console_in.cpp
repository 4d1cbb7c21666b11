// The dialogue's answers: one word a line, read as a letter, a real or an integer.
#include "console_in.hpp"

#include "console_out.hpp"
#include "error.hpp"
#include "numbers.hpp"

#include <optional>

namespace fasogram {

namespace {

bool is_blank(char c) {
    return c == ' ' || c == '\t' || c == '\r';
}

[[noreturn]] void invalid_answer(std::string_view question, std::string_view value) {
    throw FatalError("respuesta no valida a '" + std::string(question) + "': '" +
                     quoted_input(value) + "'");
}

// Whether `value`, ended by a comma, and what follows it on the line read
// as a number written with a decimal comma: digits (a sign first) before
// the comma and a digit right after it ("0,5", "-12,75e3").
bool decimal_comma(std::string_view value, std::string_view after) {
    if (after.size() < 2 || after[0] != ',' || after[1] < '0' || after[1] > '9') return false;
    if (value.starts_with('+') || value.starts_with('-')) value.remove_prefix(1);
    if (value.empty()) return false;
    for (const char c : value)
        if (c < '0' || c > '9') return false;
    return true;
}

} // namespace

std::string AnswerReader::read_value(std::string_view question) {
    return next_answer(question).value;
}

AnswerReader::Answer AnswerReader::next_answer(std::string_view question) {
    flush_output(out_); // the question must be out before the answer is read
    std::string line;
    while (std::getline(in_, line)) {
        std::size_t i = 0;
        while (i < line.size() && is_blank(line[i])) ++i;
        if (i == line.size()) continue; // empty line: look on the next one
        std::size_t end = i;
        while (end < line.size() && !is_blank(line[end]) && line[end] != ',') ++end;
        std::size_t word_end = end;
        while (word_end < line.size() && !is_blank(line[word_end])) ++word_end;
        return {line.substr(i, end - i), line.substr(end, word_end - end)};
    }
    throw FatalError("fin de la entrada al esperar la respuesta a '" + std::string(question) + "'");
}

char AnswerReader::read_char(std::string_view question) {
    const std::string value = read_value(question);
    return value.empty() ? ',' : value.front();
}

double AnswerReader::read_real(std::string_view question) {
    for (;;) {
        const Answer answer = next_answer(question);
        if (decimal_comma(answer.value, answer.after)) {
            // Read up to the comma it would be a different number: asked again.
            write_line(out_, {"los decimales se escriben con punto, no con coma: '" +
                              quoted_input(answer.value + answer.after) + "'"});
            write_line(out_, {question});
            continue;
        }
        const std::optional<double> number = parse_real(answer.value);
        if (!number) invalid_answer(question, answer.value);
        return *number;
    }
}

int AnswerReader::read_int(std::string_view question) {
    const std::string value = read_value(question);
    const std::optional<int> number = parse_int(value);
    if (!number) invalid_answer(question, value);
    return *number;
}

} // namespace fasogram
