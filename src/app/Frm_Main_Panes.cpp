// The two file panes: listing folders into them and moving between folders.

#include "app/Frm_Main.h"

#include "app/Images.h"
#include "app/PaneView.h"
#include "dialogs/Modal.h"
#include "ftp/RemoteDir.h"
#include "ftp/Transfer.h"
#include "localfs/LocalFs.h"
#include "localfs/TextHelpers.h"

#include <QAction>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QMenu>
#include <QStandardItemModel>
#include <QToolButton>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

namespace oxlip {

namespace {

QString q(const std::string& text) {
    return QString::fromStdString(text);
}

std::string withSlash(std::string path) {
    if (path.empty() || path.back() != '/') {
        path += '/';
    }
    return path;
}

// How often a drive's probe is looked at while the window waits for it.
constexpr int kDrivePollMs = 10;

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

// The wait cursor on the window while a folder is read.
class WaitCursor {
public:
    explicit WaitCursor(QWidget* window) : window_(window) { window_->setCursor(Qt::WaitCursor); }
    ~WaitCursor() { window_->unsetCursor(); }
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;

private:
    QWidget* window_;
};

} // namespace

// ---- Items ----

QString TimeText(const FileTime& time) {
    // A record without a time (nothing could be read back) shows none.
    return time.ticks == 0 ? QString() : q(FormatFileTime(time));
}

bool Frm_Main::IsAsciiFile(const std::string& name) const {
    return GetTransferType(GetExtension(name), settings_.AsciiExtensionList) == TransferMode::Ascii;
}

void Frm_Main::addItemUnsorted(int pane, const std::string& name, const DirEntry& entry) {
    const bool folder = entry.directory;
    const int icon = folder ? 1 : (IsAsciiFile(name) ? 2 : 3);
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
    if (pane == kHostPane) {
        const QString access = QString::fromStdString(PermissionDigits(entry.permissions));
        row << new PaneItem(access, access);
    }
    lv[pane]->addRow(row);
}

bool Frm_Main::AddPaneItem(int pane, const std::string& name, const DirEntry& entry) {
    addItemUnsorted(pane, name, entry);
    lv[pane]->resort();
    return true;
}

int Frm_Main::FindPaneItem(int pane, const std::string& name) const {
    const QString wanted = q(name);
    const PaneView* view = lv[pane];
    for (int row = 0; row < view->count(); ++row) {
        if (view->itemText(row) == wanted) {
            return row + 1;
        }
    }
    return 0;
}

// ---- Showing folders ----

bool Frm_Main::ShowLocalFolder(const std::string& path) {
    lv[kLocalPane]->clearItems();
    const std::string folder = withSlash(path);
    if (!PathIsDirectory(folder)) {
        return false;
    }
    WaitCursor wait(this);
    std::vector<DirEntry> list;
    const int count = ListLocalFolder(list, folder + "*.*");
    lv[kLocalPane]->beginFill();
    for (DirEntry& entry : list) {
        if (entry.name == "." || entry.name == "..") {
            continue;
        }
        entry.modified = FileTimeToLocalFileTime(entry.modified);
        addItemUnsorted(kLocalPane, entry.name, entry);
    }
    lv[kLocalPane]->endFill();
    return count > 0;
}

bool Frm_Main::ShowHostFolder(const std::string& path) {
    lv[kHostPane]->clearItems();
    if (!session_.connected()) {
        return false;
    }
    BusyGuard busy(*this);
    WaitCursor wait(this);
    const std::string folder = withSlash(path);
    if (!HostCurrentDirectory(session_, folder)) {
        return false;
    }
    std::vector<DirEntry> list;
    // A listing that failed shows an empty folder.
    const int count = ListHostFolder(session_, list, "*.*") ? static_cast<int>(list.size()) : 0;
    // Nothing below pumps events, so the views never see the rows half added.
    lv[kHostPane]->beginFill();
    for (const DirEntry& entry : list) {
        const std::string name = TrimAtNul(entry.name);
        if (name == "." || name == ".." || name.empty()) {
            continue;
        }
        addItemUnsorted(kHostPane, name, entry);
    }
    lv[kHostPane]->endFill();
    return count > 0;
}

bool Frm_Main::SetLocalPath(const std::string& path) {
    if (!ProbeLocalPath(path)) {
        return false;
    }
    QComboBox* box = Cmb_Dir[kLocalPane];
    box->clear();
    box->addItems(AncestorChain(path));
    SelectPathEntry(kLocalPane, 0);

    Cmb_Trs->setCurrentIndex(clampedTransMode());
    Cmb_Trs_Click();

    // Only the drive list's display follows; its change behaviour does not run.
    const int drive = Drv->findText(q(MountPointOfPath(path, mounts_)));
    if (drive >= 0) {
        Drv->setCurrentIndex(drive);
    }
    return true;
}

bool Frm_Main::SetHostPath(const std::string& path) {
    QComboBox* box = Cmb_Dir[kHostPane];
    box->clear();
    box->addItems(AncestorChain(path));
    SelectPathEntry(kHostPane, 0);
    return true;
}

std::string Frm_Main::ShownFolder(int pane) const {
    const QComboBox* box = Cmb_Dir[pane];
    const int index = pathIndex_[pane];
    return index >= 0 && index < box->count() ? box->itemText(index).toStdString() : std::string();
}

void Frm_Main::restorePathBox(int pane) {
    QComboBox* box = Cmb_Dir[pane];
    const int shown = pathIndex_[pane];
    if (shown >= 0 && shown < box->count()) {
        box->setCurrentIndex(shown);
        box->setEditText(box->itemText(shown));
    }
}

void Frm_Main::SelectPathEntry(int pane, int index) {
    QComboBox* box = Cmb_Dir[pane];
    if (index < 0 || index >= box->count()) {
        return;
    }
    box->setCurrentIndex(index);
    box->setEditText(box->itemText(index)); // also when the index was already selected
    pathIndex_[pane] = index;
    Cmb_Dir_Click(pane);
}

// ---- Navigation ----

void Frm_Main::Cmb_Dir_Click(int pane) {
    showPaneFolder(pane);
}

void Frm_Main::Cmb_Dir_Enter(int pane) {
    const std::string path = Cmb_Dir[pane]->currentText().toStdString();
    const bool ok =
        paneUsable(pane) && (pane == kHostPane ? SetHostPath(path) : SetLocalPath(path));
    if (!ok) {
        // Back to the folder shown before the typing.
        restorePathBox(pane);
    }
}

void Frm_Main::setDriveProbe(DriveProbe probe, int timeoutMs) {
    driveProbe_ = std::move(probe);
    driveProbeMs_ = timeoutMs;
}

Frm_Main::ProbeResult Frm_Main::probeDrive(const std::string& root) {
    // The helper thread may stay blocked in the file system for good: it shares nothing with
    // the window but this result.
    auto answer = std::make_shared<std::atomic<int>>(-1);
    std::thread([answer, probe = driveProbe_, root]() {
        answer->store(probe(root) ? 1 : 0);
    }).detach();
    WaitCursor wait(this);
    QElapsedTimer waited;
    waited.start();
    while (answer->load() < 0 && waited.elapsed() < driveProbeMs_) {
        pump_.pump();
        std::this_thread::sleep_for(std::chrono::milliseconds(kDrivePollMs));
    }
    const int result = answer->load();
    return result < 0 ? ProbeResult::NoAnswer
                      : (result == 1 ? ProbeResult::Folder : ProbeResult::NotFolder);
}

void Frm_Main::Drv_Change() {
    const std::string root = withSlash(Drv->currentText().toStdString());
    const ProbeResult probe = probeDrive(root);
    if (probe == ProbeResult::NoAnswer) {
        ui::ShowMessage(this, q(root) + QStringLiteral(" が応答しません"), ui::MsgIcon::Critical,
                        ui::MsgButtons::Ok);
    }
    if (probe != ProbeResult::Folder || !SetLocalPath(root)) {
        const QString drive = q(MountPointOfPath(ShownFolder(kLocalPane), mounts_));
        Drv->setCurrentIndex(Drv->findText(drive));
    }
}

void Frm_Main::Btn_Click(int pane) {
    if (!paneUsable(pane)) {
        return; // a disconnected host pane keeps its listing
    }
    QToolButton* up = Btn[pane];
    QComboBox* box = Cmb_Dir[pane];
    up->setEnabled(false);
    const int index = pathIndex_[pane];
    if (index >= 0 && index < box->count() - 1) {
        // The host pane never goes up from the profile's start folder.
        if (pane == kHostPane && ShownFolder(pane) == settings_.profile.Dir) {
            up->setEnabled(true);
            return;
        }
        SelectPathEntry(pane, index + 1);
        const std::string path = ShownFolder(pane);
        if (pane == kLocalPane) {
            SetLocalPath(path);
        } else {
            ShowHostFolder(path);
        }
    }
    up->setEnabled(true);
}

void Frm_Main::lv_DblClick(int pane) {
    const PaneView* view = lv[pane];
    const int row = view->selectedRow();
    if (row < 0 || view->iconIndex(row) != 1 || !paneUsable(pane)) {
        return;
    }
    QString path = q(ShownFolder(pane));
    if (!path.endsWith(QLatin1Char('/'))) {
        path += QLatin1Char('/');
    }
    path += view->itemText(row) + QLatin1Char('/');
    Cmb_Dir[pane]->setEditText(path);
    Cmb_Dir_Enter(pane);
}

void Frm_Main::m_ReLoad_Click() {
    const int pane = ActivePane == kHostPane ? kHostPane : kLocalPane;
    if (paneUsable(pane)) {
        showPaneFolder(pane);
    }
}

void Frm_Main::lv_GotFocus(int pane) {
    ActivePane = pane;
    updatePaneToolbar();
}

void Frm_Main::updatePaneToolbar() {
    const bool active = ActivePane == kLocalPane || connected();
    imgMakeButton->setActive(active);
    imgDelButton->setActive(active);
}

void Frm_Main::lv_ColumnClick(int pane, int column) {
    PaneView* view = lv[pane];
    Qt::SortOrder order = view->sortOrder();
    if (column == view->sortKey()) {
        order = order == Qt::AscendingOrder ? Qt::DescendingOrder : Qt::AscendingOrder;
    }
    view->setSort(column, order);
}

void Frm_Main::lv_KeyDown(int pane, int key, Qt::KeyboardModifiers modifiers) {
    if (key == Qt::Key_Backspace) {
        runCommand([this, pane]() { Btn_Click(pane); });
        return;
    }
    // The edit menu's shortcuts act as its entries would for this pane: not at all where the
    // entry is greyed.
    PrepareEditMenu(pane);
    QAction* action = nullptr;
    switch (key) {
    case Qt::Key_F2:
        action = m_ChangeName;
        break;
    case Qt::Key_F5:
        action = m_ReLoad;
        break;
    case Qt::Key_Delete:
        action = m_DelFile;
        break;
    case Qt::Key_P:
        action = (modifiers & Qt::ControlModifier) ? m_Permision : nullptr;
        break;
    default:
        break;
    }
    if (action && action->isEnabled()) {
        action->trigger();
    }
}

void Frm_Main::PrepareEditMenu(int pane) {
    const bool host = pane == kHostPane;
    const bool usable = !host || connected();
    m_MakeFolder->setEnabled(usable);
    m_Permision->setEnabled(host && connected());
    m_ChangeName->setEnabled(usable);
    m_DelFile->setEnabled(usable);
    m_ReLoad->setEnabled(usable);
}

void Frm_Main::lv_MouseUp(int pane, const QPoint& globalPos) {
    PrepareEditMenu(pane);
    m_Edit->popup(globalPos);
}

} // namespace oxlip
