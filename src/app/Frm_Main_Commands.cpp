// The transfer command and the file commands (delete, new folder, rename, permissions).

#include "app/Frm_Main.h"

#include "app/PaneView.h"
#include "dialogs/Dialogs.h"
#include "dialogs/Frm_State.h"
#include "dialogs/Modal.h"
#include "ftp/RemoteDir.h"
#include "ftp/RemoteOps.h"
#include "ftp/Transfer.h"
#include "localfs/LocalFs.h"
#include "localfs/TextHelpers.h"

#include <QComboBox>
#include <QPersistentModelIndex>
#include <QStandardItemModel>
#include <QToolButton>
#include <QUrl>

#include <exception>

namespace oxlip {

namespace {

QString q(const std::string& text) {
    return QString::fromStdString(text);
}

// Runs one item's step; an exception ends the step as a failure and goes to the log
// (standard error), so a fault in a lower layer is reported rather than lost.
template <class Step> bool Guarded(const char* what, const std::string& name, Step step) {
    try {
        return step();
    } catch (const std::exception& e) {
        qWarning("%s %s: %s", what, name.c_str(), e.what());
    } catch (...) {
        qWarning("%s %s: unknown exception", what, name.c_str());
    }
    return false;
}

std::string withSlash(std::string path) {
    if (path.empty() || path.back() != '/') {
        path += '/';
    }
    return path;
}

// A name that can stand as one component of a path: not empty, not "." or "..", and
// without "/" or control line breaks.
bool IsPlainName(const std::string& name) {
    return !name.empty() && name != "." && name != ".." &&
           name.find_first_of(std::string("/\r\n\0", 4)) == std::string::npos;
}

struct SelectedItem {
    std::string name;
    bool folder = false;
    QPersistentModelIndex index;
};

std::vector<SelectedItem> SelectedItems(const PaneView* pane) {
    std::vector<SelectedItem> items;
    for (int row = 0; row < pane->count(); ++row) {
        if (pane->isSelected(row)) {
            items.push_back({pane->itemText(row).toStdString(), pane->iconIndex(row) == 1,
                             QPersistentModelIndex(pane->model()->index(row, 0))});
        }
    }
    return items;
}

// The local paths of dropped URLs; none when any of them is not a local file or is a root.
std::vector<std::string> LocalPathsOf(const QList<QUrl>& urls) {
    std::vector<std::string> paths;
    for (const QUrl& url : urls) {
        if (!url.isLocalFile()) {
            return {};
        }
        std::string path = url.toLocalFile().toStdString();
        while (path.size() > 1 && path.back() == '/') {
            path.pop_back();
        }
        if (path.empty() || path == "/") {
            return {};
        }
        paths.push_back(path);
    }
    return paths;
}

constexpr int kSizeColumn = 1;
constexpr int kTimeColumn = 3;
constexpr int kAccessColumn = 4;
// New-folder names tried after the counted one is taken.
constexpr int kMaxFolderNameTries = 1000;

} // namespace

// ---- Transfers ----

void Frm_Main::Btn_Trs_Click(int index) {
    if ((index != 0 && index != 1) || !session_.connected()) {
        refuse();
        return;
    }
    const bool upload = index == 0;
    const int sourcePane = upload ? kLocalPane : kHostPane;
    // The selection as it stands now: sorting or clicking in the pane meanwhile changes
    // nothing of what this command moves.
    const std::string folder = withSlash(ShownFolder(sourcePane));
    std::vector<TransferItem> items;
    for (const SelectedItem& item : SelectedItems(view(sourcePane))) {
        items.push_back({item.name, folder, item.folder});
    }
    transferItems(upload, items);
}

void Frm_Main::UploadDroppedFiles(const QList<QUrl>& urls) {
    if (!session_.connected()) {
        refuse();
        return;
    }
    std::vector<TransferItem> items;
    for (const std::string& path : LocalPathsOf(urls)) {
        items.push_back({GetNamePart(path, '/'), GetParentPath(path, '/'), PathIsDirectory(path)});
    }
    transferItems(true, items);
}

bool Frm_Main::acceptsDrop(int pane, const QByteArray& marker, const QList<QUrl>& urls) const {
    if (!marker.isEmpty()) {
        return marker == view(pane == kLocalPane ? kHostPane : kLocalPane)->dragMarker();
    }
    return pane == kHostPane && !LocalPathsOf(urls).empty();
}

void Frm_Main::paneDropped(int pane, const QByteArray& marker, const QList<QUrl>& urls) {
    if (!acceptsDrop(pane, marker, urls)) {
        return;
    }
    runCommand([&]() {
        if (marker.isEmpty()) {
            UploadDroppedFiles(urls);
        } else {
            Btn_Trs_Click(pane == kLocalPane ? 1 : 0);
        }
    });
}

void Frm_Main::transferItems(bool upload, const std::vector<TransferItem>& items) {
    const int targetPane = upload ? kHostPane : kLocalPane;
    BusyGuard busy(*this);

    showStateWindow();
    Btn_Trs[0]->setEnabled(false);
    Btn_Trs[1]->setEnabled(false);
    imgDounButtonUp->setActive(false);
    imgUpButtonUp->setActive(false);

    const std::string targetFolder = withSlash(ShownFolder(targetPane));
    StatList->appendLine(upload ? QStringLiteral("アップロード開始！！")
                                : QStringLiteral("ダウンロード開始！！"));

    int files = 0;
    int done = 0;
    for (size_t next = 0; next < items.size(); ++next) {
        const TransferItem& item = items[next];
        if (closeRequested_ || !session_.connected() || session_.cancelRequested()) {
            break;
        }
        const std::string from = item.sourceFolder + item.name;
        const std::string to = targetFolder + item.name;
        const std::string& local = upload ? from : to;
        const std::string& host = upload ? to : from;
        const TransferMode mode = transferMode(); // read anew for every item
        bool ok = false;
        if (!IsPlainName(item.name)) {
            ok = false;
        } else if (item.folder) {
            StatList->appendLine(upload ? QStringLiteral("フォルダをアップロード中・・・・→")
                                        : QStringLiteral("←フォルダをダウンロード中・・・・"));
            ok = Guarded("folder transfer", item.name, [&] {
                const int connections = settings_.Parallel; // read anew for every folder
                return (upload ? UploadFolder(session_, local, host, mode, connections)
                               : DownloadFolder(session_, host, local, mode, connections))
                    .ok();
            });
        } else {
            ++files;
            StatList->appendLine((upload ? QStringLiteral("ファイルをアップロード中・・・・→")
                                         : QStringLiteral("←ファイルをダウンロード中・・・・")) +
                                 QString::number(files));
            ok = Guarded("file transfer", item.name, [&] {
                return (upload ? UploadFile(session_, local, host, mode)
                               : DownloadFile(session_, host, local, mode, /*resume=*/true))
                    .ok();
            });
        }
        if (settings_.ListCache && IsPlainName(item.name)) {
            RefreshPaneEntry(targetPane, item.name, upload ? host : local, item.folder, ok);
        }
        if (!ok && !reconnected_ && connectionLost()) {
            // Once per command: the item again on a new connection.
            if (!reconnect()) {
                break;
            }
            files -= item.folder ? 0 : 1;
            --next;
            continue;
        }
        if (!ok) {
            // A cancelled item is no failure to report: the log says what was done.
            if (!session_.cancelRequested()) {
                ui::ShowMessage(this,
                                upload ? QStringLiteral("ファイルの送信に失敗しました")
                                       : QStringLiteral("ファイルの受信に失敗しました"),
                                ui::MsgIcon::Critical, ui::MsgButtons::Ok);
            }
            break;
        }
        ++done;
    }

    if (session_.cancelRequested()) {
        StatList->appendLine((upload ? QStringLiteral("アップロードをキャンセルしました（")
                                     : QStringLiteral("ダウンロードをキャンセルしました（")) +
                             QStringLiteral("%1 個中 %2 個完了）").arg(items.size()).arg(done));
    } else {
        StatList->appendLine(upload ? QStringLiteral("アップロード完了")
                                    : QStringLiteral("ダウンロード完了"));
    }
    StatList->appendLine(QString(36, QLatin1Char('-')));
    if (!settings_.ListCache) {
        showPaneFolder(targetPane);
    }
    unloadStateWindow();
    const bool open = connected();
    Btn_Trs[0]->setEnabled(open);
    Btn_Trs[1]->setEnabled(open);
    imgDounButtonUp->setActive(open);
    imgUpButtonUp->setActive(open);
}

void Frm_Main::RefreshPaneEntry(int pane, const std::string& name, const std::string& path,
                                bool folder, bool sent) {
    DirEntry record;
    const bool found = pane == kHostPane ? GetHostEntry(session_, path, record).ok()
                                         : GetLocalEntry(path, record) == 1;
    if (found && pane == kLocalPane) {
        record.modified = FileTimeToLocalFileTime(record.modified);
    }
    const int position = FindPaneItem(pane, name);
    if (position == 0) {
        if (!found && !sent) {
            return; // nothing arrived: no entry for it
        }
        if (!found) {
            // Nothing to read back: shown with zero size, as the kind it was sent as.
            record = DirEntry{};
            record.directory = folder;
        }
        AddPaneItem(pane, name, record);
        return;
    }
    if (!found) {
        return; // the entry stays as it was
    }
    QStandardItemModel* model = view(pane)->model();
    const int row = position - 1;
    if (!record.directory) {
        const auto size = static_cast<qlonglong>(record.size);
        model->item(row, kSizeColumn)->setText(q(FormatSizeKB(int64_t(size))));
        model->item(row, kSizeColumn)->setData(size, SortRole);
    }
    model->item(row, kTimeColumn)->setText(TimeText(record.modified));
    model->item(row, kTimeColumn)->setData(static_cast<qlonglong>(record.modified.ticks), SortRole);
    view(pane)->resort();
}

// ---- File commands ----

bool Frm_Main::paneUsable(int pane) const {
    return pane == kLocalPane || connected();
}

void Frm_Main::m_DelFile_Click() {
    const int pane = ActivePane == kLocalPane ? kLocalPane : kHostPane;
    if (!paneUsable(pane)) {
        refuse();
        return;
    }
    const QString question = QStringLiteral("選択したファイルを全て削除しますが") +
                             QStringLiteral("\r\n") + QStringLiteral("よろしいですか？");
    if (ask(question, ui::MsgIcon::Question, ui::MsgButtons::YesNo) != ui::MsgResult::Yes) {
        return;
    }
    BusyGuard busy(*this);
    showStateWindow();
    const std::string folder = withSlash(ShownFolder(pane));
    const std::vector<SelectedItem> items = SelectedItems(view(pane));
    std::vector<QPersistentModelIndex> deleted;
    for (const SelectedItem& item : items) {
        if (closeRequested_ || session_.cancelRequested() ||
            (pane == kHostPane && !session_.connected())) {
            break;
        }
        if (!IsPlainName(item.name)) {
            continue;
        }
        const std::string full = folder + item.name;
        const bool gone = Guarded("delete", item.name, [&] {
            if (pane == kHostPane) {
                return (item.folder ? DeleteHostFolder(session_, full)
                                    : DeleteHostFile(session_, full))
                    .ok();
            }
            if (item.folder) {
                DeleteLocalFolder(full);
            } else {
                DeleteLocalFile(full);
            }
            // A tree delete may leave part of the tree: gone only when nothing is left.
            DirEntry left;
            return GetLocalEntry(full, left) == 0;
        });
        if (gone) {
            deleted.push_back(item.index);
        }
    }
    if (settings_.ListCache) {
        for (const QPersistentModelIndex& index : deleted) {
            if (index.isValid()) {
                view(pane)->model()->removeRow(index.row());
            }
        }
    } else {
        showPaneFolder(pane);
    }
    unloadStateWindow();
}

void Frm_Main::showPaneFolder(int pane) {
    const std::string path = ShownFolder(pane);
    if (pane == kHostPane) {
        ShowHostFolder(path);
    } else {
        ShowLocalFolder(path);
    }
}

void Frm_Main::m_MakeFolder_Click() {
    const int pane = ActivePane == kLocalPane ? kLocalPane : kHostPane;
    if (!paneUsable(pane)) {
        refuse();
        return;
    }
    BusyGuard busy(*this);
    const QString base =
        pane == kHostPane ? QStringLiteral("NewFolder") : QStringLiteral("新しいフォルダ");
    int count = 0;
    for (int row = 0; row < view(pane)->count(); ++row) {
        if (view(pane)->itemText(row).startsWith(base, Qt::CaseSensitive)) {
            ++count;
        }
    }
    auto nameFor = [&base](int number) {
        return (number <= 1 ? base : base + QString::number(number)).toStdString();
    };
    const std::string folder = withSlash(ShownFolder(pane));
    if (pane == kHostPane) {
        // A folder that could not be made shows as missing when the pane is read again.
        (void)CreateHostFolder(session_, folder + nameFor(count + 1)).ok();
    } else {
        // A taken name (an item 新しいフォルダ2 alone gives 新しいフォルダ2 again) moves on to
        // the next free number.
        bool created = false;
        for (int number = count + 1; number <= count + kMaxFolderNameTries && !created; ++number) {
            const std::string full = folder + nameFor(number);
            DirEntry existing;
            if (GetLocalEntry(full, existing) == 1) {
                continue;
            }
            created = CreateLocalFolder(full);
            if (!created) {
                break;
            }
        }
        if (!created) {
            ui::ShowMessage(this, QStringLiteral("フォルダを作成出来ませんでした"),
                            ui::MsgIcon::Critical, ui::MsgButtons::Ok);
        }
    }
    showPaneFolder(pane);
}

void Frm_Main::m_ChangeName_Click() {
    const int pane = ActivePane == kLocalPane ? kLocalPane : kHostPane;
    if (!paneUsable(pane)) {
        refuse();
        return;
    }
    const int row = view(pane)->selectedRow();
    if (row >= 0) {
        view(pane)->startRename(row);
    }
}

QString Frm_Main::lv_AfterLabelEdit(int pane, int, const QString& oldName, const QString& newName) {
    const std::string folder = withSlash(ShownFolder(pane));
    const std::string from = folder + oldName.toStdString();
    const std::string to = folder + newName.toStdString();
    bool ok = IsPlainName(newName.toStdString()) && IsPlainName(oldName.toStdString());
    if (ok && pane == kHostPane) {
        ok = RenameHostFile(session_, from, to).ok();
    } else if (ok) {
        // Never replace another file: a name that is taken is refused.
        DirEntry existing;
        ok = GetLocalEntry(to, existing) == 0 && RenameLocalPath(from, to);
    }
    if (ok) {
        return newName;
    }
    ui::ShowMessage(this,
                    QStringLiteral("ファイル名が重複しているか、有効ではありません") +
                        QStringLiteral("\r\n") + QStringLiteral("名前を変更出来ません"),
                    ui::MsgIcon::Critical, ui::MsgButtons::Ok);
    return oldName;
}

void Frm_Main::m_Permision_Click() {
    if (!session_.connected()) {
        refuse();
        return;
    }
    PaneView* host = view(kHostPane);
    int row = -1;
    for (int i = 0; i < host->count(); ++i) {
        if (host->isSelected(i)) {
            row = i;
            break;
        }
    }
    if (row < 0) {
        return;
    }
    // A name with a line break is refused by the dialog itself before anything is sent.
    const QString name = host->itemText(row);
    // The dialog reads the column as it stands ("44" is 044).
    const QString digits = host->cellText(row, kAccessColumn).trimmed();
    const QPersistentModelIndex item(host->model()->index(row, kAccessColumn));
    Frm_Pms dialog(&session_, name, digits, this);
    dialog.sendCommand = [this](const std::string& command) {
        return heldStep([&] { return SendFtpCommand(session_, command).ok(); });
    };
    ui::ExecDialog(&dialog);
    if (dialog.strFilename.isEmpty()) {
        return;
    }
    if (settings_.ListCache) {
        if (item.isValid()) {
            host->model()->setData(item, dialog.strPms.trimmed(), Qt::DisplayRole);
            host->model()->setData(item, dialog.strPms.trimmed(), SortRole);
        }
    } else {
        showPaneFolder(kHostPane);
    }
}

} // namespace oxlip
