#include "settings/EntryList.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace kv {
namespace {

// A plain model of the store's list: linear scans, no index.
struct ModelList {
    std::vector<std::string> lines;
    NameCase names;

    bool Same(std::string_view a, std::string_view b) const {
        return names == NameCase::Exact ? a == b : EqualNoCase(a, b);
    }
    long Find(const std::string& name) const {
        for (size_t i = 0; i < lines.size(); ++i) {
            std::string_view n;
            if (NameOfLine(lines[i], &n) && Same(n, name))
                return static_cast<long>(i);
        }
        return -1;
    }
};

class EntryListNames : public ::testing::TestWithParam<NameCase> {};

TEST_P(EntryListNames, RandomOperationsAgreeWithAPlainList) {
    std::mt19937 rng(1234);
    EntryList list(GetParam());
    ModelList model{{}, GetParam()};
    auto name = [&] { return std::string(1, "aAbBcC"[rng() % 6]) + std::to_string(rng() % 40); };
    for (int step = 0; step < 20000; ++step) {
        switch (rng() % 6) {
            case 0:
            case 1: {
                std::string line = name() + "=" + std::to_string(step);
                if (rng() % 10 == 0)
                    line = "noeq" + std::to_string(step);
                list.Append(line);
                model.lines.push_back(line);
                break;
            }
            case 2: {
                const std::string n = name();
                const long m = model.Find(n);
                const std::size_t slot = list.Find(n);
                ASSERT_EQ(m < 0, slot == EntryList::npos) << n;
                if (m >= 0) {
                    ASSERT_EQ(list.LineOfSlot(slot), model.lines[m]);
                    list.EraseSlot(slot);
                    model.lines.erase(model.lines.begin() + m);
                }
                break;
            }
            case 3: {
                const std::string n = name();
                const long m = model.Find(n);
                const std::size_t slot = list.Find(n);
                ASSERT_EQ(m < 0, slot == EntryList::npos);
                if (m >= 0) {
                    const std::string line = n + "=r" + std::to_string(step);
                    list.ReplaceSlot(slot, line);
                    model.lines[m] = line;
                }
                break;
            }
            case 4: {
                if (rng() % 50 != 0)
                    break;
                const std::string prefix =
                    std::string(1, "abc"[rng() % 3]) + std::to_string(rng() % 4);
                list.EraseWithPrefix(prefix);
                std::vector<std::string> kept;
                for (const auto& l : model.lines) {
                    if (l.size() < prefix.size() ||
                        !model.Same(std::string_view(l).substr(0, prefix.size()), prefix)) {
                        kept.push_back(l);
                    }
                }
                model.lines = kept;
                break;
            }
            default: {
                ASSERT_EQ(list.Count(), model.lines.size());
                if (!model.lines.empty()) {
                    const size_t pos = rng() % model.lines.size();
                    ASSERT_EQ(list.LineAt(pos), model.lines[pos]) << "step " << step;
                }
            }
        }
    }
    EXPECT_EQ(list.Lines(), model.lines);
}

INSTANTIATE_TEST_SUITE_P(Names, EntryListNames,
                         ::testing::Values(NameCase::Folded, NameCase::Exact),
                         [](const ::testing::TestParamInfo<NameCase>& info) {
                             return info.param == NameCase::Folded ? "Folded" : "Exact";
                         });

}  // namespace
}  // namespace kv
