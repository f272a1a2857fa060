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

PaneView* Frm_Main::view(int side) const {
    return panes_[side]->view();
}

bool Frm_Main::IsAsciiFile(const std::string& name) const {
    return GetTransferType(GetExtension(name), settings_.AsciiExtensionList) == TransferMode::Ascii;
}

bool Frm_Main::AddPaneItem(int side, const std::string& name, const DirEntry& entry) {
    pane(side).addItem(name, entry, IsAsciiFile(name));
    view(side)->resort();
    return true;
}

int Frm_Main::FindPaneItem(int side, const std::string& name) const {
    return pane(side).findItem(name);
}

// ---- Showing folders ----

bool Frm_Main::ShowLocalFolder(const std::string& path) {
    view(kLocalPane)->clearItems();
    const std::string folder = withSlash(path);
    if (!PathIsDirectory(folder)) {
        return false;
    }
    WaitCursor wait(this);
    std::vector<DirEntry> list;
    const int count = ListLocalFolder(list, folder + "*.*");
    for (DirEntry& entry : list) {
        entry.modified = FileTimeToLocalFileTime(entry.modified);
    }
    pane(kLocalPane).fill(list, [this](const std::string& name) { return IsAsciiFile(name); });
    return count > 0;
}

bool Frm_Main::ShowHostFolder(const std::string& path) {
    view(kHostPane)->clearItems();
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
    pane(kHostPane).fill(list, [this](const std::string& name) { return IsAsciiFile(name); });
    return count > 0;
}

bool Frm_Main::SetLocalPath(const std::string& path) {
    if (!ProbeLocalPath(path)) {
        return false;
    }
    pane(kLocalPane).showPathChain(path);
    SelectPathEntry(kLocalPane, 0);

    Cmb_Trs->setCurrentIndex(clampedTransMode());
    Cmb_Trs_Click();

    // Only the drive list's display follows; its change behaviour does not run.
    pane(kLocalPane).showDriveOf(path, mounts_);
    return true;
}

bool Frm_Main::SetHostPath(const std::string& path) {
    pane(kHostPane).showPathChain(path);
    SelectPathEntry(kHostPane, 0);
    return true;
}

std::string Frm_Main::ShownFolder(int side) const {
    return pane(side).shownFolder();
}

void Frm_Main::SelectPathEntry(int side, int index) {
    if (pane(side).chooseEntry(index)) {
        Cmb_Dir_Click(side);
    }
}

// ---- Navigation ----

void Frm_Main::Cmb_Dir_Click(int pane) {
    showPaneFolder(pane);
}

void Frm_Main::Cmb_Dir_Enter(int pane) {
    const std::string path = this->pane(pane).pathBox()->currentText().toStdString();
    const bool ok =
        paneUsable(pane) && (pane == kHostPane ? SetHostPath(path) : SetLocalPath(path));
    if (!ok) {
        // Back to the folder shown before the typing.
        this->pane(pane).restorePathBox();
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
    QComboBox* drives = pane(kLocalPane).driveBox();
    const std::string root = withSlash(drives->currentText().toStdString());
    const ProbeResult probe = probeDrive(root);
    if (probe == ProbeResult::NoAnswer) {
        ui::ShowMessage(this, q(root) + QStringLiteral(" が応答しません"), ui::MsgIcon::Critical,
                        ui::MsgButtons::Ok);
    }
    if (probe != ProbeResult::Folder || !SetLocalPath(root)) {
        const QString drive = q(MountPointOfPath(ShownFolder(kLocalPane), mounts_));
        drives->setCurrentIndex(drives->findText(drive));
    }
}

void Frm_Main::Btn_Click(int pane) {
    if (!paneUsable(pane)) {
        return; // a disconnected host pane keeps its listing
    }
    QToolButton* up = this->pane(pane).upButton();
    up->setEnabled(false);
    const int index = this->pane(pane).shownIndex();
    if (index >= 0 && index < this->pane(pane).pathBox()->count() - 1) {
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
    const PaneView* view = this->view(pane);
    const int row = view->selectedRow();
    if (row < 0 || view->iconIndex(row) != 1 || !paneUsable(pane)) {
        return;
    }
    QString path = q(ShownFolder(pane));
    if (!path.endsWith(QLatin1Char('/'))) {
        path += QLatin1Char('/');
    }
    path += view->itemText(row) + QLatin1Char('/');
    this->pane(pane).pathBox()->setEditText(path);
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
    PaneView* view = this->view(pane);
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
