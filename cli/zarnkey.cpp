#include "cli/ZarnKeyCommandLine.h"

#include <iostream>

int main(int argc, char** argv) {
    return zarn::RunZarnKey(argc, argv, std::cout, std::cerr);
}
