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

} // namespace

std::string AnswerReader::read_value(std::string_view question) {
    flush_output(out_); // the question must be out before the answer is read
    std::string line;
    while (std::getline(in_, line)) {
        std::size_t i = 0;
        while (i < line.size() && is_blank(line[i])) ++i;
        if (i == line.size()) continue; // empty line: look on the next one
        std::size_t end = i;
        while (end < line.size() && !is_blank(line[end]) && line[end] != ',') ++end;
        return line.substr(i, end - i);
    }
    throw FatalError("fin de la entrada al esperar la respuesta a '" + std::string(question) + "'");
}

char AnswerReader::read_char(std::string_view question) {
    const std::string value = read_value(question);
    return value.empty() ? ',' : value.front();
}

double AnswerReader::read_real(std::string_view question) {
    const std::string value = read_value(question);
    const std::optional<double> number = parse_real(value);
    if (!number) invalid_answer(question, value);
    return *number;
}

int AnswerReader::read_int(std::string_view question) {
    const std::string value = read_value(question);
    const std::optional<int> number = parse_int(value);
    if (!number) invalid_answer(question, value);
    return *number;
}

} // namespace fasogram
