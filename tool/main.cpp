#include "CommandLine.h"

int main(int argc, char** argv) { return okr::tool::runCommandLine(argc, argv); }
