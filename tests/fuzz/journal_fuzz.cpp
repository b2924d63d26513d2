// Any bytes as the copy pass's journal: ParseJournal keeps every name inside its text, and the repair
// touches nothing outside the game folder (the seeds name files beside it).

#include "../unit/scratch_folder.h"
#include "payload/journal.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    JournalPlan plan;
    if (ParseJournal(data, size, &plan) == 0) {
        Require(plan.stage >= kJournalStaging && plan.stage <= kJournalCommitDone);
        for (size_t i = 0; i < plan.count; ++i) {
            Require(plan.items[i].name < plan.text_length);
            Require(memchr(plan.text + plan.items[i].name, '\0',
                           plan.text_length - plan.items[i].name) != nullptr);
        }
        FreeJournalPlan(&plan);
    }

    const fs::path& root = FuzzScratchFolder();
    fs::path game = root / "game", beside = root / "beside";
    fs::create_directories(game / "d");
    for (const fs::path& keep : {root / "outside.dat", beside / "kept.dat"}) WriteAll(keep, "");
    WriteAll(game / kJournalName, std::string((const char*)data, size));
    RepairInterruptedUpdate(game.c_str());
    Require(fs::exists(root / "outside.dat") && fs::exists(beside / "kept.dat"));
    std::error_code ignored;
    fs::remove(game / kJournalName, ignored);
    return 0;
}
