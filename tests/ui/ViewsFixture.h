#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QHBoxLayout>
#include <QWidget>
#include <filesystem>
#include <map>
#include <memory>
#include <string>

#include "../rules/FakeViews.h"
#include "../support/ScriptedPrompts.h"
#include "../support/TempDir.h"
#include "principals/ModifiedFlag.h"
#include "rules/ProtectionController.h"
#include "settings/Encript.h"
#include "ui/DirView.h"
#include "ui/DriveView.h"

namespace kv::test {

/// The two real views in a window over a temporary folder tree, with the
/// protection controller wired as the main window wires it.
class ViewsFixture : public ::testing::Test {
protected:
    ViewsFixture()
        : root(std::filesystem::canonical(tree.Path()).string()),
          store(storeDir.File("kv.dat"), false) {
        auto* layout = new QHBoxLayout(&window);
        driveView = new ui::TDriveView(&window);
        dirView = new ui::TDirView(driveView, &window);
        layout->addWidget(driveView);
        layout->addWidget(dirView);
        window.resize(700, 400);
        principals.User("Bob");
    }

    /// Makes folders (names ending in "/") and files below the temporary root.
    void Make(std::initializer_list<std::string> items) {
        for (const std::string& item : items) {
            const std::filesystem::path path = root + "/" + item;
            if (item.back() == '/') {
                std::filesystem::create_directories(path);
            } else {
                std::filesystem::create_directories(path.parent_path());
                WriteFile(path.string(), "x");
            }
        }
    }
    /// Builds the controller (after the folders exist) and shows the window.
    void Start(IOptionsDialogRunner* runner = nullptr) {
        controller = std::make_unique<TProtectionController>(
            store, prompts, modified, principals, *driveView, *dirView,
            runner ? *runner : static_cast<IOptionsDialogRunner&>(dialog));
        window.show();
        QApplication::setActiveWindow(&window);
    }

    std::string P(const std::string& relative) const {
        return relative.empty() ? root : root + "/" + relative;
    }
    std::string K(const std::string& relative) const { return "u_Bob_P_" + P(relative); }

    ui::TFolderItem* Item(const std::string& path) const {
        ui::TFolderItem* item = driveView->RootItem();
        if (path == "/")
            return item;
        std::size_t start = 1;
        while (item && start < path.size()) {
            std::size_t end = path.find('/', start);
            if (end == std::string::npos)
                end = path.size();
            const std::string name = path.substr(start, end - start);
            start = end + 1;
            ui::TFolderItem* next = nullptr;
            for (int i = 0; i < item->childCount() && !next; ++i) {
                auto* child = static_cast<ui::TFolderItem*>(item->child(i));
                if (child->Name() == name)
                    next = child;
            }
            item = next;
        }
        return item;
    }
    int TreeMarker(const std::string& relative) const { return Item(P(relative))->Marker(); }

    int ListPosition(const std::string& caption) const {
        for (int i = 0; i < dirView->Count(); ++i)
            if (dirView->Caption(i) == caption)
                return i;
        return -1;
    }
    int ListMarker(const std::string& caption) const {
        return dirView->Marker(ListPosition(caption));
    }

    /// Selects a folder in the tree and gives the tree the focus.
    void FocusTree(const std::string& relative) {
        ASSERT_TRUE(driveView->SelectPath(P(relative))) << relative;
        driveView->setFocus(Qt::OtherFocusReason);
    }
    /// Selects entries of the list (of the tree's selected folder) and focuses it.
    void FocusList(std::initializer_list<std::string> captions) {
        std::vector<int> positions;
        for (const std::string& c : captions)
            positions.push_back(ListPosition(c));
        dirView->SelectPositions(positions);
        dirView->FocusList();
    }

    /// Path -> marker of every loaded node of the tree.
    std::map<std::string, int> LoadedMarkers() const {
        std::map<std::string, int> markers;
        Collect(driveView->RootItem(), &markers);
        return markers;
    }

    TempDir tree;
    TempDir storeDir;
    std::string root;
    TEncriptor store;
    QWidget window;
    ui::TDriveView* driveView = nullptr;
    ui::TDirView* dirView = nullptr;
    FakePrincipals principals;
    ScriptedPrompts prompts;
    ScriptedOptionsDialog dialog;
    TModifiedFlag modified;
    std::unique_ptr<TProtectionController> controller;

private:
    static void Collect(const ui::TFolderItem* item, std::map<std::string, int>* markers) {
        (*markers)[item->Path()] = item->Marker();
        for (int i = 0; i < item->childCount(); ++i)
            Collect(static_cast<const ui::TFolderItem*>(item->child(i)), markers);
    }
};

}  // namespace kv::test
