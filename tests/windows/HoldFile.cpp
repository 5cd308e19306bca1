// okr-test-hold-file PATH: holds the file open as Boost holds a block's file
// (read and write, sharing read, write and delete), says "held", and lets
// go when its input ends.

#include <windows.h>

#include <cstdio>

int main(int argc, char** argv)
{
    const HANDLE file = argc != 2 ? INVALID_HANDLE_VALUE
                                  : CreateFileA(argv[1], GENERIC_READ | GENERIC_WRITE,
                                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    std::printf(file == INVALID_HANDLE_VALUE ? "not held\n" : "held\n");
    std::fflush(stdout);
    char line[16];
    (void)!std::fgets(line, sizeof line, stdin);
    return file == INVALID_HANDLE_VALUE ? 1 : 0;
}
