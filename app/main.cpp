#include "dialogue.hpp"

#include <iostream>

int main() {
    return fasogram::run_fasogram(std::cin, std::cout, std::cerr);
}
