// A second process for the tests: opens a block through the library's
// opening side and prints its bytes in hex, or "error: <what>" and status 1.

#include "common/SharedSyncInfo"
#include "ipc/SharedType"

#include <cstdio>

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: okr-test-block-reader NAME\n");
        return 2;
    }
    okr::ipc::SharedType<SharedSyncInfo> reader(argv[1], 0);
    try {
        reader.create();
    } catch (const okr::ipc::SharedException& e) {
        std::printf("error: %s\n", e.what());
        return 1;
    }
    for (unsigned char byte : reader.record()->bytes) {
        std::printf("%02x", byte);
    }
    std::printf("\n");
    return 0;
}
