#include "CommandLine.h"

#include "Commands.h"
#include "Version.h"

#include "ipc/SharedName.h"

#include <CLI/CLI.hpp>

#include <exception>
#include <iostream>
#include <string>

namespace okr {
namespace tool {

namespace {

constexpr int usageError = 2;

int usage(const CLI::App& app, const std::string& message)
{
    std::cerr << "okr-shm: " << message << "\n\n" << app.help() << std::flush;
    return usageError;
}

} // namespace

int runCommandLine(int argc, const char* const* argv)
{
    CLI::App app("Lists, shows and cleans the shared objects of okr (okr-sync, okr-info-N).", "okr-shm");
    app.set_version_flag("--version", std::string("okr-shm ") + version);
    app.require_subcommand(1);

    bool json = false;
    bool hex = false;
    bool dryRun = false;
    std::string name;

    CLI::App* list = app.add_subcommand("list", "One row per object in the shared folder, with who uses it");
    list->add_flag("--json", json, "An array of objects with fixed keys, for scripts");

    CLI::App* show = app.add_subcommand("show", "The areas of one record: offset, size, non-zero bytes, first bytes");
    show->add_option("NAME", name, "The object's name, as list shows it")->required();
    CLI::Option* showJson = show->add_flag("--json", json, "The same as JSON");
    show->add_flag("--hex", hex, "A canonical hex dump of the record instead, as hexdump -C")->excludes(showJson);

    CLI::App* clean = app.add_subcommand("clean", "Removes orphaned information records, says why it keeps the rest");
    clean->add_flag("--dry-run", dryRun, "Say what would be removed, remove nothing");

    // CLI11 would only say that a command is missing.
    const auto isCommand = [&](const char* word) {
        return list->check_name(word) || show->check_name(word) || clean->check_name(word);
    };
    if (argc > 1 && argv[1][0] != '-' && !isCommand(argv[1])) {
        return usage(app, std::string("unknown command \"") + argv[1] + "\"");
    }
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForVersion& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        return usage(app, e.what());
    }

    try {
        if (list->parsed()) {
            return listObjects(json);
        }
        if (show->parsed()) {
            if (!ipc::isValidSharedName(name)) {
                return usage(app, "\"" + name + "\" is not a name a shared object can have");
            }
            return showObject(name, json, hex);
        }
        return cleanObjects(dryRun);
    } catch (const std::exception& e) {
        std::cerr << "okr-shm: " << e.what() << std::endl;
        return 1;
    }
}

} // namespace tool
} // namespace okr
