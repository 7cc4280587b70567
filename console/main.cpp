// hubctl: one hub command per run. Exit status 0 on success, 1 on failure.
#include <exception>
#include <iostream>
#include <string>
#include <vector>

#include "console/entry.h"

int main(int argc, char* argv[]) {
    try {
        const std::vector<std::string> args(argv + 1, argv + argc);
        const int status = console::runEntry(args, std::cout);
        std::cout.flush();
        return status;
    } catch (const std::exception& e) {
        std::cout << "Unexpected error: " << e.what() << '\n';
    } catch (...) {
        std::cout << "Unexpected error\n";
    }
    return 1;
}
