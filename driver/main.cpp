#include "TestRun.h"

int main() { return okr::driver::runCheck(); }
