#pragma once
// One side of the main window: the file view with its model, the path box (the folder shown
// and its ancestors), the up button and, on the local side, the drive box.

#include "localfs/DirEntry.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <string>
#include <vector>

class QComboBox;
class QObject;
class QStandardItemModel;
class QToolButton;
class QWidget;

namespace oxlip {

class PaneView;

constexpr int kLocalPane = 0;
constexpr int kHostPane = 1;

class Pane {
public:
    // `side` is kLocalPane or kHostPane; `filter` watches the path box for Enter.
    Pane(int side, QWidget* parent, QObject* filter);

    int side() const { return side_; }
    PaneView* view() const { return view_; }
    QStandardItemModel* model() const;
    QComboBox* pathBox() const { return pathBox_; }
    QComboBox* driveBox() const { return driveBox_; } // null on the host side
    QToolButton* upButton() const { return upButton_; }

    // ---- Items ----
    // Adds an item without sorting (between a fill's begin and end, or before resort()).
    void addItem(const std::string& name, const DirEntry& entry, bool ascii);
    int findItem(const std::string& name) const; // position from 1, 0 = none
    // Shows a folder's entries (its "." and ".." and nameless entries left out) sorted, in one
    // go; nothing in it pumps events, so the views never see the rows half added.
    void fill(const std::vector<DirEntry>& entries,
              const std::function<bool(const std::string& name)>& isAscii);

    // ---- Path box ----
    // Fills the path box with the path and each parent up to the root; nothing is chosen.
    void showPathChain(const std::string& path);
    // The folder shown: the entry last chosen, never text typed into the box and not
    // confirmed with Enter ("" before a folder was shown).
    std::string shownFolder() const;
    int shownIndex() const { return shownIndex_; }
    // Chooses entry `index` (false when there is none).
    bool chooseEntry(int index);
    // Puts the shown folder's entry back (after refused or failed input).
    void restorePathBox();

    // ---- Drive box (local side) ----
    // Creates the drive box offering the mount points (after the other controls, so that it
    // keeps its place in the focus order).
    void addDriveBox(const std::vector<std::string>& mounts);
    // Shows the drive holding `path` without running the box's change behaviour.
    void showDriveOf(const std::string& path, const std::vector<std::string>& mounts);

private:
    int side_;
    PaneView* view_ = nullptr;
    QComboBox* pathBox_ = nullptr;
    QComboBox* driveBox_ = nullptr;
    QToolButton* upButton_ = nullptr;
    int shownIndex_ = -1; // the path box entry shown
};

// The last-modified column's text for a time ("" for a record without one).
QString TimeText(const FileTime& time);

} // namespace oxlip
