#include "tool/commands/CommandLine.h"

#include "Version.h"
#include "host/SharedFolder.h"
#include "tool/commands/Commands.h"
#include "tool/folder/SharedNameLimit.h"
#include "tool/output/PrintedName.h"
#include "tool/output/StandardStreams.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <cctype>
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

std::string upperCase(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(),
                   [](char c) { return static_cast<char>(std::toupper(static_cast<unsigned char>(c))); });
    return text;
}

// The titles in a comma-separated list of column names, in any letter case;
// false, with the first unknown name, when one names no column.
bool readColumns(const std::string& list, std::vector<std::string>& titles, std::string& unknown)
{
    const std::vector<std::string>& known = listColumns();
    std::size_t at = 0;
    for (;;) {
        const std::size_t comma = std::min(list.find(',', at), list.size());
        const std::string title = upperCase(list.substr(at, comma - at));
        if (std::find(known.begin(), known.end(), title) == known.end()) {
            unknown = list.substr(at, comma - at);
            return false;
        }
        titles.push_back(title);
        if (comma == list.size()) {
            return true;
        }
        at = comma + 1;
    }
}

std::string joined(const std::vector<std::string>& words)
{
    std::string text;
    for (const std::string& word : words) {
        text += (text.empty() ? "" : ", ") + word;
    }
    return text;
}

int runCommand(const std::vector<std::string>& arguments)
{
    CLI::App app("Lists, shows and cleans the shared objects of okr (okr-sync, okr-info-N).", "okr-shm");
    app.set_version_flag("--version", std::string("okr-shm ") + version);
    app.require_subcommand(1);
    app.footer("Exit status: 0 done; 1 could not (no such object, a folder or object that could not be read, "
               "one that could not be removed, output that could not be written); 2 usage error.\n"
               "okr-shm COMMAND --help shows a command's options; /? is --help too.");

    ListOptions listOptions;
    bool noHeadings = false;
    std::string outputColumns;
    bool json = false;
    bool hex = false;
    bool dryRun = false;
    std::string name;

    CLI::App* list = app.add_subcommand(
        "list", "One row per object in the shared folder, with who uses it; on Windows a table of the folders of "
                "earlier boots follows");
    CLI::Option* listJson = list->add_flag(
        "--json", listOptions.json, "An array of objects with fixed keys, for scripts; earlier boots' folders too");
    list->add_flag("-n,--noheadings", noHeadings, "No header line, and no table of earlier boots")->excludes(listJson);
    list->add_option("-o,--output", outputColumns,
                     "The columns to print, in this order, separated by commas: " + joined(listColumns()) +
                         "; no table of earlier boots")
        ->excludes(listJson);
    list->add_flag("--raw", listOptions.format.raw,
                   "No alignment: fields quoted as names are, one space between; no table of earlier boots")
        ->excludes(listJson);

    CLI::App* show = app.add_subcommand("show", "The areas of one record: offset, size, non-zero bytes, first bytes");
    show->add_option("NAME", name,
                     "The object's name: as it is, or as list prints it (quoted), or its name or "
                     "name_quoted from --json")
        ->required();
    CLI::Option* showJson = show->add_flag("--json", json, "The same as JSON");
    show->add_flag("--hex", hex, "A canonical hex dump of the record instead, as hexdump -C")->excludes(showJson);

    CLI::App* clean = app.add_subcommand(
        "clean", "Removes orphaned information records and unpublished blocks (.okr-new-*) and, on Windows, every "
                 "okr-* file of earlier boots that no process holds open, then their folders once empty; says why it "
                 "keeps the rest");
    clean->add_flag("--dry-run", dryRun, "Say what would be removed, remove nothing");

    std::vector<const char*> argv;
    argv.reserve(arguments.size());
    for (const std::string& argument : arguments) {
        // Windows' own way to ask for help.
        argv.push_back(argument == "/?" ? "--help" : argument.c_str());
    }
    const int argc = static_cast<int>(argv.size());

    // CLI11 would only say that a command is missing.
    const auto isCommand = [&](const char* word) {
        return list->check_name(word) || show->check_name(word) || clean->check_name(word);
    };
    if (argc > 1 && argv[1][0] != '-' && !isCommand(argv[1])) {
        return usage(app, "unknown command " + printedName(argv[1]));
    }
    try {
        app.parse(argc, argv.data());
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForVersion& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        return usage(app, e.what());
    }

    try {
        if (list->parsed()) {
            std::string unknown;
            if (!outputColumns.empty() || list->count("--output") > 0) {
                if (!readColumns(outputColumns, listOptions.columns, unknown)) {
                    return usage(app, "unknown column " + printedName(unknown) + "; the columns are " +
                                          joined(listColumns()));
                }
            }
            listOptions.format.headings = !noHeadings;
            return listObjects(listOptions);
        }
        if (show->parsed()) {
            // Only what no file of the folder can be called is refused; the
            // rules for the names a product may create do not apply here.
            std::vector<std::string> names = namesMeant(name);
            if (names.empty()) {
                return usage(app, printedName(name) + " is not a name a file of the shared folder can have");
            }
            const std::string folder = host::sharedFolderWithoutCreating();
            const std::string meant = names.back();
            names.erase(std::remove_if(
                            names.begin(), names.end(),
                            [&folder](const std::string& candidate) { return !fitsSharedFolder(folder, candidate); }),
                        names.end());
            if (names.empty()) {
                return usage(app, printedName(meant) + " is too long for a name in the shared folder");
            }
            return showObject(names, json, hex);
        }
        return cleanObjects(dryRun);
    } catch (const std::exception& e) {
        std::cerr << "okr-shm: " << e.what() << std::endl;
        return 1;
    }
}

} // namespace

int runCommandLine(const std::vector<std::string>& arguments)
{
    StandardStreams streams;
    const int status = runCommand(arguments);
    return streams.finish() || status != 0 ? status : 1;
}

} // namespace tool
} // namespace okr
