// Loads a plug-in with dlopen and has it open a record through okr:
//   okr-plugin-host PLUGIN.so
// Exit status 0 when the plug-in read back what it wrote.

#include <dlfcn.h>
#include <unistd.h>

#include <cstdio>
#include <string>

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: okr-plugin-host PLUGIN.so\n");
        return 2;
    }
    void* plugin = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
    if (plugin == nullptr) {
        std::fprintf(stderr, "%s\n", dlerror());
        return 1;
    }
    using RoundTrip = int (*)(const char*);
    auto roundTrip = reinterpret_cast<RoundTrip>(dlsym(plugin, "okr_plugin_round_trip"));
    if (roundTrip == nullptr) {
        std::fprintf(stderr, "%s\n", dlerror());
        return 1;
    }
    const std::string name = "okr-plugin-" + std::to_string(getpid());
    const int read = roundTrip(name.c_str());
    std::printf("%s: %s holds %d\n", argv[1], name.c_str(), read);
    dlclose(plugin);
    return read == 42 ? 0 : 1;
}
