// Does nothing: built several times, each linked against more of the check's
// shared libraries, so that timing these runs shows what loading those
// libraries and running their constructors costs before main() starts.
int main() { return 0; }
