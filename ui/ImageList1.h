#pragma once

#include <QIcon>

namespace kv::ui {

/// Picture indexes of the main image list (20 x 20): actions, menus, the
/// toolbar and the principal tree.
enum ImageIndex : int {
    kImgGroup = 0,
    kImgUser = 1,
    kImgNewGroup = 2,
    kImgDeleteGroup = 3,
    kImgMoveUser = 4,
    kImgRemoveUser = 5,
    kImgUnknownUser = 6,
    kImgSave = 7,
    kImgMinimize = 8,
    kImgIconView = 10,
    kImgSmallIconView = 11,
    kImgListView = 12,
    kImgReportView = 13,
    kImgFull = 14,
    kImgStart = 15,
    kImgTest = 16,
    kImgReadOnlyOptions = 17,
    kImgFullOptions = 18,
    kImgCustomOptions = 19,
    kImgCustom = 20,
    kImgReadOnly = 21,
    kImgReset = 22,
    kImgStop = 23,
    kImgRefresh = 24,
    kImgPassword = 25,
    kImgExit = 26,
    kImgHelp = 27,
    kImgAbout = 28,
    kImgProgramOptions = 34,
};

/// The picture at an index of the main image list; a null icon for an unused index.
QIcon ImageList1(int index);

}  // namespace kv::ui
