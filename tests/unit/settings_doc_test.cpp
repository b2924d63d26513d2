// docs/install-env.md against the settings table: every key the program
// knows is documented with the default and capacity the program uses, and
// the page documents no other key.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "base/platform.h"
#include "config/settings.h"

namespace {

// The cells of a Markdown table row ("| a | b |"), an escaped "\|" kept.
std::vector<std::string> Cells(const std::string& row) {
    std::vector<std::string> cells;
    std::string cell;
    for (size_t i = 1; i < row.size(); ++i) {
        if (row[i] == '\\' && i + 1 < row.size() && row[i + 1] == '|') {
            cell += row[++i];
        } else if (row[i] == '|') {
            cells.push_back(cell.substr(1, cell.size() > 1 ? cell.size() - 2 : 0));
            cell.clear();
        } else {
            cell += row[i];
        }
    }
    return cells;
}

bool IsKeyCell(const std::string& cell) {
    if (cell.size() < 3 || cell.front() != '`' || cell.back() != '`') return false;
    for (size_t i = 1; i + 1 < cell.size(); ++i) {
        if (!(cell[i] >= 'A' && cell[i] <= 'Z') && cell[i] != '_') return false;
    }
    return true;
}

TEST(SettingsDoc, AgreesWithTheSettingsTable) {
    std::ifstream page(VN_SOURCE_DIR "/docs/install-env.md");
    ASSERT_TRUE(page) << "docs/install-env.md";
    std::map<std::string, std::vector<std::string>> documented;
    for (std::string line; std::getline(page, line);) {
        if (line.compare(0, 2, "| ") != 0) continue;
        std::vector<std::string> cells = Cells(line);
        if (cells.size() == 5 && IsKeyCell(cells[0]))
            documented[cells[0].substr(1, cells[0].size() - 2)] = cells;
    }
    for (const SettingRow& row : kSettingRows) {
        SCOPED_TRACE(row.key);
        auto found = documented.find(row.key);
        ASSERT_NE(found, documented.end());
        const std::vector<std::string>& cells = found->second;
        std::string fallback = "(absent)";
        if (row.fallback) {
            char utf8[256];
            ASSERT_TRUE(OsCp932ToUtf8(row.fallback, utf8, sizeof utf8));
            fallback = std::string("`") + utf8 + "`";
        }
        EXPECT_EQ(cells[1], fallback);
        std::string capacity = row.kind == kSettingIgnored ? "not read"
                               : row.kind == kSettingNumber
                                   ? "number"
                                   : std::to_string(row.capacity - 1) + " bytes";
        EXPECT_EQ(cells[2], capacity);
        EXPECT_FALSE(cells[3].empty());
        EXPECT_EQ(cells[4].compare(0, strlen(row.key) + 2, "`" + std::string(row.key) + " "), 0)
            << cells[4];
        documented.erase(found);
    }
    for (const auto& extra : documented) ADD_FAILURE() << "documented, not known: " << extra.first;
}

}  // namespace
