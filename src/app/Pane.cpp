// One side of the main window: its items and its path and drive boxes.

#include "app/Pane.h"

#include "app/Images.h"
#include "app/PaneView.h"
#include "localfs/LocalFs.h"
#include "localfs/TextHelpers.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QLineEdit>
#include <QStandardItemModel>
#include <QToolButton>

#include <algorithm>

namespace oxlip {

namespace {

QString q(const std::string& text) {
    return QString::fromStdString(text);
}

constexpr int kComboHeight = 22;

// Longest chain of ancestors a path box takes; a path has far fewer components.
constexpr int kMaxChain = 4096;

// Entry 0 the path as given, then each parent up to the root (the path that is its own
// parent).
QStringList AncestorChain(const std::string& path) {
    QStringList chain{q(path)};
    std::string last = path;
    for (int i = 0; i < kMaxChain; ++i) {
        std::string parent = GetParentPath(last, '/');
        if (parent == last || parent.empty()) {
            break;
        }
        chain << q(parent);
        last = parent;
    }
    return chain;
}

} // namespace

QString TimeText(const FileTime& time) {
    // A record without a time (nothing could be read back) shows none.
    return time.ticks == 0 ? QString() : q(FormatFileTime(time));
}

Pane::Pane(int side, QWidget* parent, QObject* filter) : side_(side) {
    const bool local = side == kLocalPane;
    const QStringList localColumns = {QStringLiteral("ﾌｧｲﾙ名"), QStringLiteral("ｻｲｽﾞ"),
                                      QStringLiteral("種類"), QStringLiteral("最終更新")};
    const QStringList hostColumns = localColumns + QStringList{QStringLiteral("ｱｸｾｽ権")};
    const QList<int> widths = {100, 40, 50, 130, 50};

    upButton_ = new QToolButton(parent);
    upButton_->setObjectName(QStringLiteral("Btn%1").arg(side));
    upButton_->setIcon(images::icon(images::Image::Up));
    upButton_->setIconSize(QSize(18, 18));
    upButton_->setToolTip(QStringLiteral("上へ"));
    upButton_->setGeometry(local ? 8 : 368, 80, 23, 23);

    pathBox_ = new QComboBox(parent);
    pathBox_->setObjectName(QStringLiteral("Cmb_Dir%1").arg(side));
    pathBox_->setEditable(true);
    pathBox_->setInsertPolicy(QComboBox::NoInsert);
    pathBox_->setCompleter(nullptr);
    pathBox_->setMaxVisibleItems(20);
    pathBox_->setGeometry(local ? 112 : 392, 80, local ? 195 : 275, kComboHeight);
    pathBox_->installEventFilter(filter);
    pathBox_->lineEdit()->installEventFilter(filter);

    view_ = new PaneView(local ? localColumns : hostColumns, widths, parent);
    view_->setObjectName(QStringLiteral("lv%1").arg(side));
    view_->setGeometry(local ? 8 : 368, 112, 297, 233);
}

QStandardItemModel* Pane::model() const {
    return view_->model();
}

// ---- Items ----

void Pane::addItem(const std::string& name, const DirEntry& entry, bool ascii) {
    const bool folder = entry.directory;
    const int icon = folder ? 1 : (ascii ? 2 : 3);
    const QString qname = q(name);

    auto* nameItem = new PaneItem(qname, qname);
    nameItem->setEditable(true);
    nameItem->setData(icon, IconIndexRole);
    nameItem->setIcon(images::paneIcon(icon));

    // Sizes sort by their byte count and dates by their time; folders have no size.
    const auto size = static_cast<qlonglong>(entry.size);
    auto* sizeItem = new PaneItem(folder ? QString() : q(FormatSizeKB(int64_t(size))),
                                  folder ? qlonglong(-1) : size);
    sizeItem->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);

    const QString type = folder ? QStringLiteral("<フォルダ>") : q(GetExtension(name)).toUpper();
    auto* typeItem = new PaneItem(type, type);

    auto* timeItem =
        new PaneItem(TimeText(entry.modified), static_cast<qlonglong>(entry.modified.ticks));

    QList<QStandardItem*> row{nameItem, sizeItem, typeItem, timeItem};
    if (side_ == kHostPane) {
        const QString access = QString::fromStdString(PermissionDigits(entry.permissions));
        row << new PaneItem(access, access);
    }
    view_->addRow(row);
}

int Pane::findItem(const std::string& name) const {
    const QString wanted = q(name);
    for (int row = 0; row < view_->count(); ++row) {
        if (view_->itemText(row) == wanted) {
            return row + 1;
        }
    }
    return 0;
}

void Pane::fill(const std::vector<DirEntry>& entries,
                const std::function<bool(const std::string& name)>& isAscii) {
    view_->beginFill();
    for (const DirEntry& entry : entries) {
        const std::string name = TrimAtNul(entry.name);
        if (name == "." || name == ".." || name.empty()) {
            continue;
        }
        addItem(name, entry, isAscii(name));
    }
    view_->endFill();
}

// ---- Path box ----

void Pane::showPathChain(const std::string& path) {
    pathBox_->clear();
    pathBox_->addItems(AncestorChain(path));
}

std::string Pane::shownFolder() const {
    return shownIndex_ >= 0 && shownIndex_ < pathBox_->count()
               ? pathBox_->itemText(shownIndex_).toStdString()
               : std::string();
}

bool Pane::chooseEntry(int index) {
    if (index < 0 || index >= pathBox_->count()) {
        return false;
    }
    pathBox_->setCurrentIndex(index);
    pathBox_->setEditText(pathBox_->itemText(index)); // also when the index was already chosen
    shownIndex_ = index;
    return true;
}

void Pane::restorePathBox() {
    if (shownIndex_ >= 0 && shownIndex_ < pathBox_->count()) {
        pathBox_->setCurrentIndex(shownIndex_);
        pathBox_->setEditText(pathBox_->itemText(shownIndex_));
    }
}

// ---- Drive box ----

void Pane::addDriveBox(const std::vector<std::string>& mounts) {
    driveBox_ = new QComboBox(view_->parentWidget());
    driveBox_->setObjectName(QStringLiteral("Drv"));
    driveBox_->setGeometry(32, 80, 73, kComboHeight);
    int longest = 0;
    for (const std::string& mount : mounts) {
        driveBox_->addItem(q(mount));
        longest = std::max(longest, driveBox_->fontMetrics().horizontalAdvance(q(mount)));
    }
    driveBox_->view()->setMinimumWidth(std::min(longest + 40, 480));
}

void Pane::showDriveOf(const std::string& path, const std::vector<std::string>& mounts) {
    const int drive = driveBox_->findText(q(MountPointOfPath(path, mounts)));
    if (drive >= 0) {
        driveBox_->setCurrentIndex(drive);
    }
}

} // namespace oxlip
