// The yardstick for hubctl's start-up: a C++ program that prints one line,
// built with the compiler's default flags.
#include <iostream>

int main() {
    std::cout << "Managed USB Hub\n";
    return 0;
}
