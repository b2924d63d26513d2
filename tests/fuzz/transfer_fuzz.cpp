// Any bytes through both line parsers, both expansions and the unescaping, with and
// without a CD-ROM drive: every output terminated within its buffer, an [ini] line
// without placeholders split at its first "=". Input: a game folder, a line break, the line.

#include "../unit/scratch_folder.h"
#include "update/transfer.h"

namespace {

const char* CdromRoot() { return "Q:\\"; }
const char* NoCdrom() { return nullptr; }

bool Terminated(const char* text, size_t capacity) { return strnlen(text, capacity) < capacity; }

void CheckEntry(TransferResult result, const TransferEntry& entry) {
    Require(result == kTransferAccepted || result == kTransferMalformed || result == kTransferTooLong);
    Require(Terminated(entry.name, sizeof entry.name) && Terminated(entry.data, sizeof entry.data));
    if (result != kTransferAccepted) Require(!entry.name[0] && !entry.data[0]);
}

// A line without placeholders comes back as it was.
void CheckExpanded(TransferResult result, const char* expanded, const std::string& line) {
    if (result != kTransferAccepted) return Require(result == kTransferTooLong && !expanded[0]);
    Require(Terminated(expanded, kTransferTextCapacity));
    if (!strstr(line.c_str(), "REP_")) Require(strcmp(expanded, line.c_str()) == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string line((const char*)data, size), target;
    if (!TakeLine(&line, &target)) std::swap(line, target);  // no line break: no game folder
    line = line.c_str();
    if (target.size() >= 260) target.resize(259);
    for (CdromRootFinder finder : {CdromRoot, NoCdrom}) {
        const TransferPlaces places = {target.c_str(), finder};
        TransferEntry entry;
        TransferResult result = ParseIniLine(line.c_str(), &places, &entry);
        CheckEntry(result, entry);
        Require(!FindChar(entry.name, '='));  // the key ends at the first "="
        if (result == kTransferAccepted && !strstr(line.c_str(), "REP_"))
            Require(std::string(entry.name) + "=" + entry.data == line);
        CheckEntry(ParseRegLine(line.c_str(), &places, &entry), entry);

        char expanded[kTransferTextCapacity];
        CheckExpanded(ExpandIniPlaceholders(line.c_str(), &places, expanded), expanded, line);
        CheckExpanded(ExpandRegPlaceholders(line.c_str(), &places, expanded), expanded, line);
    }
    char unescaped[kUnescapeCapacity];
    TransferResult result = UnescapeRegText(line.c_str(), unescaped);
    if (result == kTransferAccepted) {
        Require(Terminated(unescaped, kUnescapeCapacity) && strlen(unescaped) <= line.size());
        if (!strchr(line.c_str(), '\\')) Require(strcmp(unescaped, line.c_str()) == 0);
    } else {
        Require(result == kTransferTooLong && !unescaped[0] && line.size() >= 520);
    }
    return 0;
}
