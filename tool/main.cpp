#include "tool/commands/CommandLine.h"
#include "tool/commands/ProgramArguments.h"

int main(int argc, char** argv) { return okr::tool::runCommandLine(okr::tool::programArguments(argc, argv)); }
