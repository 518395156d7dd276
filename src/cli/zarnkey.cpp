#include "cli/ZarnKeyCommandLine.h"

#include <iostream>

int main(int argc, char** argv) {
    const int exitStatus = zarn::RunZarnKey(argc, argv, std::cout, std::cerr);
    return zarn::FinishStandardOutput(exitStatus, std::cerr);
}
