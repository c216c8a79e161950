// What the window marks and what the service decides, walked together: the
// administrator sets protection with the window's commands, the markers are
// drawn from the settings, the settings are compiled into entries, and every
// marked item is decided by those entries as its marker says.
#include <gtest/gtest.h>

#include <vector>

#include "driver/Matcher.h"
#include "enforce/AI.h"
#include "enforce/CompileRules.h"
#include "rules/Schema.h"
#include "tests/rules/RulesFixture.h"

namespace kv {
namespace {

/// Collects what compilation sends.
class Collect : public IEntryLoader {
public:
    bool ClearEntries() override {
        entries.clear();
        return true;
    }
    int AddEntry(std::uint32_t dwOperation, const std::string& FileMask,
                 const std::string& ExcludeFiles, const std::string& Processes,
                 const std::string& ExcludeProc) override {
        entries.push_back({dwOperation, FileMask, ExcludeFiles, Processes, ExcludeProc});
        return static_cast<int>(entries.size()) - 1;
    }
    std::vector<driver::Entry> entries;
};

constexpr std::uint32_t kRename = 0x10, kRead = 0x40, kAttrSet = 0x100000;

/// The decision a marker promises for renaming, reading and chmod of an item.
struct Promise {
    bool rename;
    bool read;
    bool chmod;
};
Promise PromiseOf(int marker) {
    switch (marker) {
        case kKindReadOnly:
            return {true, false, true};
        case kKindFull:
            return {true, true, true};
        default:  // none; a Custom mask of 0 forbids nothing
            return {false, false, false};
    }
}

class MarkersAndDecisions : public ::testing::Test {
protected:
    MarkersAndDecisions() : f(PathStyle::Posix(), "/") {
        for (const char* path : {"srv/ro/sub/deep", "srv/ro/other", "srv/full/in", "srv/plain"})
            f.tree.AddPath(path);
    }

    void Tree(const std::string& path, int tag) {
        f.SelectInTree(path);
        f.controller.cmdReadOnlyExecute(tag);
    }
    void Files(const std::string& folder, const std::vector<std::string>& files,
               std::initializer_list<std::string> selected, int tag) {
        f.OpenInList(folder, files);
        f.list.Select(selected);
        f.controller.cmdReadOnlyExecute(tag);
    }

    /// Every folder node and the listed files of `folders`, against the entries.
    void ExpectMarkersKept(
        const std::vector<std::pair<std::string, std::vector<std::string>>>& listed) {
        f.controller.UserGroupsChange();
        Collect loaded;
        TRuleCompiler(f.store, loaded, f.principals).CompileRules("u_Bob");
        const driver::MatchIndex index(loaded.entries);
        auto expect = [&](const std::string& path, int marker, bool folder) {
            const Promise promise = PromiseOf(marker);
            EXPECT_EQ(index.Decide(kRename, path, "mv", {}, folder).refused, promise.rename)
                << path << " marked " << marker << ": rename";
            EXPECT_EQ(index.Decide(kRead, path, "cat", {}, folder).refused, promise.read)
                << path << " marked " << marker << ": read";
            EXPECT_EQ(index.Decide(kAttrSet, path, "chmod", {}, folder).refused, promise.chmod)
                << path << " marked " << marker << ": chmod";
        };
        std::vector<test::FakeTree::Node*> nodes{f.tree.Root()};
        while (!nodes.empty()) {
            test::FakeTree::Node* node = nodes.back();
            nodes.pop_back();
            if (node != f.tree.Root())
                expect(node->path, node->marker, true);
            for (auto& child : node->children)
                nodes.push_back(child.get());
        }
        for (const auto& [folder, files] : listed) {
            f.OpenInList(folder, files);
            const int folderMarker = f.tree.Find(folder)->marker;
            for (const std::string& file : files) {
                const int own = f.list.entries[f.list.PositionOf(file)].marker;
                // A file without a marker of its own takes its folder's protection.
                expect(folder + "/" + file, own != kKindNone ? own : folderMarker, false);
            }
        }
    }

    test::RulesFixture f;
};

TEST_F(MarkersAndDecisions, FoldersFilesAndTheirOwnProtections) {
    Tree("/srv/ro", kKindReadOnly);
    Tree("/srv/full", kKindFull);
    Files("/srv/ro", {"a.txt", "b.txt"}, {"a.txt"}, kKindFull);
    Files("/srv/ro/sub", {"a.txt", "c.txt"}, {"c.txt"}, kKindFull);
    ExpectMarkersKept({{"/srv/ro", {"a.txt", "b.txt"}},
                       {"/srv/ro/sub", {"a.txt", "c.txt"}},
                       {"/srv/plain", {"a.txt"}}});
}

TEST_F(MarkersAndDecisions, AReadOnlyFolderWithoutItsSubfolders) {
    f.store.WriteBool("SubFolders_1", false);
    Tree("/srv/ro", kKindReadOnly);
    Files("/srv/ro", {"a.txt"}, {"a.txt"}, kKindFull);
    ExpectMarkersKept({{"/srv/ro", {"a.txt", "b.txt"}}, {"/srv/ro/sub", {"a.txt"}}});
}

TEST_F(MarkersAndDecisions, AProtectedSubfolderInsideAnother) {
    Tree("/srv/ro", kKindReadOnly);
    Tree("/srv/ro/sub", kKindFull);
    Files("/srv/ro/sub/deep", {"x"}, {"x"}, kKindReadOnly);
    ExpectMarkersKept({{"/srv/ro/sub", {"a.txt"}}, {"/srv/ro/sub/deep", {"x", "y"}}});
}

}  // namespace
}  // namespace kv
