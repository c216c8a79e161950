#include "StyleParam.h"
#include "rules/Schema.h"

namespace kv::test {
namespace {

using Keys = std::map<std::string, std::string>;

class OptionsTest : public StyledRulesTest {
protected:
    void SetUp() override {
        Add("A/B");
        Add("A/C");
        Add("D");
    }
    TProtectionOptions& Options() { return f.controller.Options(); }
    /// Entries that are kind defaults (no principal prefix).
    Keys Defaults() {
        Keys result;
        for (const OptionInfo& info : kOptions)
            for (int kind : {1, 2, 3}) {
                const std::string name = KindDefaultName(info.option, kind);
                const std::string value = f.store.ReadString(name, "\x01");
                if (value != "\x01")
                    result[name] = value;
            }
        return result;
    }
};

TEST_P(OptionsTest, ModeFollowsTheTagUnlessACustomItemIsSelectedInTheFocusedView) {
    f.store.WriteInteger(K("A"), 3);
    f.store.WriteInteger(K("A/f.txt"), 7);
    f.controller.UserGroupsChange();

    f.SelectInTree(P("A"));
    EXPECT_EQ(Options().ChooseMode(1).mode, 1);
    EXPECT_EQ(Options().ChooseMode(2).mode, 2);
    EXPECT_EQ(Options().ChooseMode(3).mode, 4);
    EXPECT_EQ(Options().ChooseMode(3).path, P("A"));

    f.SelectInTree(P("D"));
    EXPECT_EQ(Options().ChooseMode(3).mode, 3);
    EXPECT_EQ(Options().ChooseMode(3).path, "");

    f.OpenInList(P("A"), {"f.txt", "g.txt"});
    f.list.Select({"f.txt"});
    EXPECT_EQ(Options().ChooseMode(3).mode, 7);
    EXPECT_EQ(Options().ChooseMode(3).path, P("A/f.txt"));
    f.list.Select({"C", "f.txt"});  // the last subfolder entry is a folder, not a file
    EXPECT_EQ(Options().ChooseMode(3).mode, 4);
    EXPECT_EQ(Options().ChooseMode(3).path, P("A/C"));
    f.list.Select({"g.txt"});
    EXPECT_EQ(Options().ChooseMode(3).mode, 3);
}

TEST_P(OptionsTest, ModeOneShowsTheReadOnlyBoxesLockedAndStoresOnlyTheGeneralFields) {
    f.store.WriteString("Processes_1", "a.exe");
    const OptionsDialogState s = Options().LoadOptions("", 1);
    EXPECT_EQ(s.caption, "ReadOnly Protection Options");
    EXPECT_EQ(s.helpTopic, "Topic140");
    EXPECT_EQ(s.fields.mask, kReadOnlyMask);
    EXPECT_EQ(s.fields.proc, "a.exe");
    EXPECT_FALSE(s.setDefaultVisible);
    EXPECT_FALSE(s.lock.maskBoxes);
    EXPECT_TRUE(s.lock.subFolders);
    EXPECT_TRUE(s.lock.filePatterns);

    f.dialog.Queue([](const OptionsDialogState&, OptionsFields* r) {
        r->exFiles = "*.log";
        r->subFolders = false;
        r->mask = 0xFFFFFFFF;  // a mask is never stored for a fixed kind
        return true;
    });
    EXPECT_TRUE(Options().EditProtectionOptions(1));
    EXPECT_EQ(Defaults(), (Keys{{"Processes_1", "a.exe"},
                                {"ExcludeProc_1", ""},
                                {"ExcludeFiles_1", "*.log"},
                                {"IncludeFiles_1", "*"},
                                {"SubFolders_1", "0"}}));
    EXPECT_TRUE(f.modified.Get());
}

TEST_P(OptionsTest, ModeTwoStoresLockedFieldsAsTheyWereLoaded) {
    f.store.WriteString("IncludeFiles_2", "*.doc");
    const OptionsDialogState s = Options().LoadOptions("", 2);
    EXPECT_EQ(s.caption, "Full Protection Options");
    EXPECT_EQ(s.helpTopic, "Topic150");
    EXPECT_EQ(s.fields.mask, kFullMask);
    EXPECT_FALSE(s.lock.subFolders);
    EXPECT_FALSE(s.lock.filePatterns);

    f.dialog.Queue([](const OptionsDialogState&, OptionsFields* r) {
        r->proc = "b.exe";
        r->incFiles = "changed";
        r->subFolders = false;
        return true;
    });
    EXPECT_TRUE(Options().EditProtectionOptions(2));
    EXPECT_EQ(Defaults(), (Keys{{"Processes_2", "b.exe"},
                                {"ExcludeProc_2", ""},
                                {"ExcludeFiles_2", ""},
                                {"IncludeFiles_2", "*.doc"},
                                {"SubFolders_2", "1"}}));
}

TEST_P(OptionsTest, ModeThreeStoresTheCustomDefaultsWithTheMask) {
    f.store.WriteInteger("dwOperation_3", 0x3 | 0x400 | 0x200000);  // bits outside the boxes
    const OptionsDialogState s = Options().LoadOptions("", 3);
    EXPECT_EQ(s.caption, "Default Custom Protection Options");
    EXPECT_EQ(s.helpTopic, "Topic160");
    EXPECT_EQ(s.fields.mask, 0x400u);
    f.dialog.QueueOk();
    EXPECT_TRUE(Options().EditProtectionOptions(3));
    EXPECT_EQ(Defaults(), (Keys{{"Processes_3", "*"},
                                {"ExcludeProc_3", ""},
                                {"ExcludeFiles_3", ""},
                                {"IncludeFiles_3", "*"},
                                {"SubFolders_3", "1"},
                                {"dwOperation_3", "1024"}}));
}

TEST_P(OptionsTest, ModeFourWithSetDefaultAlsoMakesTheCustomDefaults) {
    f.store.WriteInteger(K("A"), 3);
    f.controller.UserGroupsChange();
    f.SelectInTree(P("A"));
    f.dialog.Queue([](const OptionsDialogState& s, OptionsFields* r) {
        EXPECT_TRUE(s.setDefaultVisible);
        EXPECT_TRUE(s.lock.maskBoxes);
        r->proc = "c.exe";
        r->exFiles = "*.tmp";
        r->mask = 0x10 | 0x20;
        r->setDefault = true;
        return true;
    });
    EXPECT_TRUE(Options().EditProtectionOptions(3));
    EXPECT_EQ(f.Keys(), (Keys{{K("A"), "3"},
                              {K("A") + "_Processes", "c.exe"},
                              {K("A") + "_ExcludeProc", ""},
                              {K("A") + "_ExcludeFiles", "*.tmp"},
                              {K("A") + "_IncludeFiles", "*"},
                              {K("A") + "_SubFolders", "1"},
                              {K("A") + "_dwOperation", "48"}}));
    EXPECT_EQ(Defaults(), (Keys{{"Processes_3", "c.exe"},
                                {"ExcludeProc_3", ""},
                                {"ExcludeFiles_3", "*.tmp"},
                                {"IncludeFiles_3", "*"},
                                {"SubFolders_3", "1"},
                                {"dwOperation_3", "48"}}));
}

TEST_P(OptionsTest, InheritedCustomFolderGetsAKeyOfItsOwnAndTheFolderAboveKeepsItsOwn) {
    f.store.WriteInteger(K("A"), 3);
    f.store.WriteString(K("A") + "_Processes", "a.exe");
    f.store.WriteString("ExcludeProc_3", "x.exe");
    f.controller.UserGroupsChange();
    f.SelectInTree(P("A/B"));
    f.dialog.QueueOk();
    EXPECT_TRUE(Options().EditProtectionOptions(3));
    const OptionsDialogState& shown = f.dialog.shown.at(0);
    EXPECT_EQ(shown.mode, 4);
    EXPECT_EQ(shown.fields.proc, "*") << "Custom defaults, not the folder above";
    EXPECT_EQ(shown.fields.exProc, "x.exe");
    const Keys keys = f.Keys();
    EXPECT_EQ(keys.at(K("A")), "3");
    EXPECT_EQ(keys.at(K("A") + "_Processes"), "a.exe");
    EXPECT_EQ(keys.at(K("A/B")), "3");
    EXPECT_EQ(keys.at(K("A/B") + "_ExcludeProc"), "x.exe");
    EXPECT_EQ(Defaults().count("Processes_3"), 0u) << "SetDefault is off";
}

TEST_P(OptionsTest, ModeSevenStoresOnlyTheProcessPatternsAndTheMask) {
    f.store.WriteInteger(K("D/f.txt"), 7);
    f.store.WriteString(K("D/f.txt") + "_Processes", "own.exe");
    f.controller.UserGroupsChange();
    f.OpenInList(P("D"), {"f.txt"});
    f.list.Select({"f.txt"});
    f.dialog.Queue([](const OptionsDialogState& s, OptionsFields* r) {
        EXPECT_EQ(s.fields.proc, "own.exe");
        EXPECT_FALSE(s.setDefaultVisible);
        r->incFiles = "ignored";
        r->mask = 0x4;
        r->setDefault = true;  // not shown in this mode: has no effect
        return true;
    });
    EXPECT_TRUE(Options().EditProtectionOptions(3));
    EXPECT_EQ(f.Keys(), (Keys{{K("D/f.txt"), "7"},
                              {K("D/f.txt") + "_Processes", "own.exe"},
                              {K("D/f.txt") + "_ExcludeProc", ""},
                              {K("D/f.txt") + "_dwOperation", "4"}}));
    EXPECT_TRUE(Defaults().empty());
}

TEST_P(OptionsTest, CancelStoresNothing) {
    f.dialog.QueueCancel();
    EXPECT_FALSE(Options().EditProtectionOptions(3));
    EXPECT_TRUE(Defaults().empty());
    EXPECT_FALSE(f.modified.Get());
}

TEST_P(OptionsTest, ClearedItemOptionFallsBackToTheDefaultNextTime) {
    f.store.WriteInteger(K("A"), 3);
    f.store.WriteString(K("A") + "_Processes", "a.exe");
    f.store.WriteString("Processes_3", "d.exe");
    f.controller.UserGroupsChange();
    f.SelectInTree(P("A"));
    f.dialog.Queue([](const OptionsDialogState&, OptionsFields* r) {
        r->proc.clear();
        return true;
    });
    EXPECT_TRUE(Options().EditProtectionOptions(3));
    EXPECT_EQ(Options().LoadOptions(P("A"), 4).fields.proc, "d.exe");
}

KV_BOTH_STYLES(OptionsTest);

}  // namespace
}  // namespace kv::test
