#ifndef OKR_TOOL_FILEREMOVAL_H
#define OKR_TOOL_FILEREMOVAL_H

#include "tool/folder/ObjectFolder.h"
#include "tool/inventory/ProcessTable.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace okr {
namespace tool {

struct Removal {
    enum Outcome { removed, alreadyGone, kept, failed };
    Removal(Outcome result, std::string why = std::string()) : outcome(result), reason(std::move(why)) {}

    Outcome outcome;
    std::string reason;    // kept: why; failed: the system's words (removalFailed)
    std::string backAs;    // kept: the name it went back under, when not the one it was found under
    std::string displaced; // kept: where whatever took its name while it was set aside is now
};

// A removal the system refused, with its words for the error code (errno,
// GetLastError()) and nothing else: clean says "cannot remove NAME: " before
// them, in one wording on every platform.
Removal removalFailed(std::int64_t systemCode);

struct RemovalCandidate {
    ObjectFile seen;       // as the inventory saw it, under the name it has now
    std::string home;      // the name it goes back under when it must stay; empty when unknown
    bool setAside = false; // already under a hidden name (left by an earlier clean)
};

// What removeObjects asks of its caller.
class RemovalJudge {
public:
    RemovalJudge() = default;
    virtual ~RemovalJudge() = default;
    RemovalJudge(const RemovalJudge&) = delete;
    RemovalJudge& operator=(const RemovalJudge&) = delete;

    // Called once the candidates of a round are out of reach by their names
    // and before their verdicts: learns what the verdicts need to know of
    // that moment (which processes are alive).
    virtual void survey() = 0;
    // Why candidate index must stay, given who uses it now; empty when it may go.
    virtual std::string verdict(std::size_t index, const ObjectUse& now) = 0;
    // How candidate index ended, as soon as it did.
    virtual void settled(std::size_t index, const Removal& removal) = 0;
};

// Removes each candidate file of folder, but only if it is still that very
// regular file and the judge, asked once nobody can newly reach it by its
// name, lets it go; settles every candidate, in their order. Each platform's
// file says how.
void removeObjects(const ObjectFolder& folder, const std::vector<RemovalCandidate>& candidates, RemovalJudge& judge);

// Removes the folder named name in parent if it is still the one opened as
// folder (no link) and is empty.
Removal removeEmptyFolder(const ObjectFolder& parent, const std::string& name, const ObjectFolder& folder);

} // namespace tool
} // namespace okr

#endif
