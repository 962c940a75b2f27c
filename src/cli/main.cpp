#include "cli/COrvexCtl.h"

#include <iostream>
#include <string>
#include <vector>

int main(int argc, char** argv)
{
    std::vector<std::string> arguments(argv + 1, argv + argc);
    orvex::COrvexCtl program(std::cout, std::cerr, std::cin);
    return program.Run(arguments);
}
