// The process entry of vnpack on Linux: the arguments are UTF-8 already.
#include "system.h"

int main(int argc, char** argv) { return VnpackMain(std::vector<std::string>(argv + 1, argv + argc)); }
