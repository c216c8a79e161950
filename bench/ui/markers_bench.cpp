// Times the protection markers and the file list on real views over a
// temporary folder tree: a principal change with 10,000 protection keys over
// 10,000 loaded folders, filling a list of 10,000 files, and expanding a
// folder of 10,000 subfolders.
#include <QApplication>
#include <QElapsedTimer>
#include <QHBoxLayout>
#include <QWidget>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

#include "platform/Prompts.h"
#include "principals/ModifiedFlag.h"
#include "principals/PrincipalSelection.h"
#include "rules/ProtectionController.h"
#include "settings/Encript.h"
#include "ui/DirView.h"
#include "ui/DriveView.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

double MsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

struct Bob : kv::IPrincipalSelection {
    std::optional<kv::SelectedPrincipal> Selected() const override {
        return kv::SelectedPrincipal{"Bob", kv::PrincipalKind::User};
    }
};
struct NoPrompts : kv::IPrompts {
    kv::Answer Message(const std::string&, const std::string&, kv::Buttons,
                       kv::MessageIcon) override {
        return kv::Answer::Ok;
    }
};
struct NoDialog : kv::IOptionsDialogRunner {
    bool Run(const kv::OptionsDialogState&, kv::OptionsFields*) override { return false; }
};

/// Keeps the event loop turning and reports its longest gap (how long the
/// window would not answer) while `work` runs and its posted events drain.
template <typename F>
void Report(const char* what, F work) {
    const auto start = Clock::now();
    work();
    const double direct = MsSince(start);
    QElapsedTimer gap;
    gap.start();
    double longest = 0;
    const auto drainStart = Clock::now();
    while (MsSince(drainStart) < 300) {
        QApplication::processEvents(QEventLoop::AllEvents, 5);
        longest = std::max(longest, static_cast<double>(gap.nsecsElapsed()) / 1e6);
        gap.restart();
    }
    std::printf("%-58s %9.1f ms  (longest event-loop step after it: %.1f ms)\n", what, direct,
                longest);
}

}  // namespace

int main(int argc, char** argv) {
    if (!std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);

    std::string tmpl = (fs::temp_directory_path() / "kvbench.XXXXXX").string();
    const std::string base = fs::canonical(::mkdtemp(tmpl.data())).string();
    const std::string deep = base + "/deep";
    const std::string files = base + "/files";
    const std::string wide = base + "/wide";
    // 100 x 100 folders, 10,000 files, 10,000 subfolders in one folder.
    for (int i = 0; i < 100; ++i)
        for (int j = 0; j < 100; ++j)
            fs::create_directories(deep + "/d" + std::to_string(i) + "/s" + std::to_string(j));
    fs::create_directories(files);
    for (int i = 0; i < 10000; ++i)
        std::ofstream(files + "/file" + std::to_string(i) + ".txt") << "x";
    for (int i = 0; i < 10000; ++i)
        fs::create_directories(wide + "/w" + std::to_string(i));

    kv::TEncriptor store(base + "/kv.dat", false);
    // 10,000 keys of the principal: one per folder of deep/, kinds 1, 2, 3 in
    // turn, every tenth on a file of files/ instead.
    int keys = 0;
    for (int i = 0; i < 100; ++i)
        for (int j = 0; j < 100; ++j, ++keys) {
            if (j % 10 == 0) {
                store.WriteInteger("u_Bob_P_" + files + "/file" + std::to_string(keys) + ".txt",
                                   5 + keys % 3);
            } else {
                store.WriteInteger(
                    "u_Bob_P_" + deep + "/d" + std::to_string(i) + "/s" + std::to_string(j),
                    1 + keys % 3);
            }
        }
    for (int i = 0; i < 5000; ++i)  // another principal's keys, never looked at
        store.WriteInteger("u_Ann_P_" + deep + "/x" + std::to_string(i), 1);

    QWidget window;
    auto* layout = new QHBoxLayout(&window);
    auto* tree = new kv::ui::TDriveView(&window);
    auto* list = new kv::ui::TDirView(tree, &window);
    layout->addWidget(tree);
    layout->addWidget(list);
    window.resize(900, 600);
    window.show();

    Bob principal;
    NoPrompts prompts;
    NoDialog dialog;
    kv::TModifiedFlag modified;
    kv::TProtectionController controller(store, prompts, modified, principal, *tree, *list, dialog);

    std::printf("store: %d entries, %d keys of the principal\n", store.EntryCount(), keys);
    tree->SelectPath(deep);
    auto* deepItem = tree->SelectedItem();
    Report("load 10,000 folders (100 x 100, expanded)", [&] {
        for (int i = 0; i < deepItem->childCount(); ++i)
            deepItem->child(i)->setExpanded(true);
    });
    int loaded = 0;
    std::function<void(QTreeWidgetItem*)> count = [&](QTreeWidgetItem* item) {
        ++loaded;
        for (int i = 0; i < item->childCount(); ++i)
            count(item->child(i));
    };
    count(tree->topLevelItem(0));
    std::printf("loaded folder nodes: %d\n", loaded);
    Report("UserGroupsChange: 10,000 keys over the loaded folders",
           [&] { controller.UserGroupsChange(); });
    Report("UserGroupsChange again (markers unchanged)", [&] { controller.UserGroupsChange(); });
    Report("ReadOnly on deep/ (marks and removes 9,000 keys below)", [&] {
        tree->setFocus();
        controller.cmdReadOnlyExecute(1);
    });

    Report("fill the list with 10,000 files (read, order, mark)", [&] { tree->SelectPath(files); });
    Report("refill the same list", [&] { list->Refill(); });
    list->SetStyle(kv::ViewStyle::Report);
    Report("refill in report style", [&] { list->Refill(); });
    list->SetStyle(kv::ViewStyle::Icons);
    Report("refill in icon style", [&] { list->Refill(); });
    list->SetStyle(kv::ViewStyle::List);

    Report("select and expand a folder of 10,000 subfolders", [&] { tree->SelectPath(wide); });

    std::error_code ec;
    fs::remove_all(base, ec);
    return 0;
}
