// Holds a file open as Boost holds a block's file (read and write, sharing
// read, write and delete) until its input ends:
//   okr-test-hold-file PATH   prints "held" once the file is open.

#include <windows.h>

#include <cstdio>

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: okr-test-hold-file PATH\n");
        return 2;
    }
    const HANDLE file =
        CreateFileA(argv[1], GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        std::printf("error %lu\n", GetLastError());
        return 1;
    }
    std::printf("held\n");
    std::fflush(stdout);
    char line[16];
    (void)!std::fgets(line, sizeof line, stdin);
    CloseHandle(file);
    return 0;
}
