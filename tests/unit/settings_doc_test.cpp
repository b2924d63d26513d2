// docs/install-env.md against the settings table: every key the program
// knows is documented with the default and capacity the program uses, and
// the page documents no other key.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <regex>
#include <string>
#include <vector>

#include "base/platform.h"
#include "config/settings.h"

namespace {

TEST(SettingsDoc, AgreesWithTheSettingsTable) {
    std::ifstream page(VN_SOURCE_DIR "/docs/install-env.md");
    ASSERT_TRUE(page) << "docs/install-env.md";
    // Rows "| `KEY` | default | capacity | meaning | example |", "\|" escaped.
    std::map<std::string, std::vector<std::string>> documented;
    for (std::string line; std::getline(page, line);) {
        std::vector<std::string> cells;
        std::string cell;
        for (size_t i = 1; line.compare(0, 2, "| ") == 0 && i < line.size(); ++i) {
            if (line[i] == '\\' && i + 1 < line.size() && line[i + 1] == '|') {
                cell += line[++i];
            } else if (line[i] != '|') {
                cell += line[i];
            } else {
                cells.push_back(cell.substr(1, cell.size() > 1 ? cell.size() - 2 : 0));
                cell.clear();
            }
        }
        if (cells.size() == 5 && std::regex_match(cells[0], std::regex("`[A-Z_]+`")))
            documented[cells[0].substr(1, cells[0].size() - 2)] = cells;
    }
    for (const SettingRow& row : kSettingRows) {
        SCOPED_TRACE(row.key);
        auto found = documented.find(row.key);
        ASSERT_NE(found, documented.end());
        const std::vector<std::string>& cells = found->second;
        char utf8[256];
        ASSERT_TRUE(!row.fallback || OsCp932ToUtf8(row.fallback, utf8, sizeof utf8));
        EXPECT_EQ(cells[1], row.fallback ? std::string("`") + utf8 + "`" : "(absent)");
        EXPECT_EQ(cells[2], row.kind == kSettingIgnored ? "not read"
                            : row.kind == kSettingNumber
                                ? "number"
                                : std::to_string(row.capacity - 1) + " bytes");
        EXPECT_FALSE(cells[3].empty());
        EXPECT_EQ(cells[4].rfind("`" + std::string(row.key) + " ", 0), 0u) << cells[4];
        documented.erase(found);
    }
    for (const auto& extra : documented) ADD_FAILURE() << "documented, not known: " << extra.first;
}

}  // namespace
