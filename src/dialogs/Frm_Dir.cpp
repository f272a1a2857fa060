#include "dialogs/DialogUi.h"
#include "dialogs/Dialogs.h"
#include "dialogs/FolderList.h"
#include "localfs/LocalFs.h"

#include <QComboBox>
#include <QDir>
#include <QPushButton>
#include <QStyle>

namespace oxlip {

Frm_Dir::Frm_Dir(QWidget* parent) : QDialog(parent) {
    ui::SetUpDialog(this, QStringLiteral("Frm_Dir"), QStringLiteral("ﾌｧｲﾙ検索"), 4335, 4695);

    drvList = new QComboBox(this);
    drvList->setObjectName(QStringLiteral("drvList"));
    ui::ApplyDesignFont(drvList, ui::StandardGothicFamily());
    dirList = new FolderList(this);
    dirList->setObjectName(QStringLiteral("dirList"));
    ui::ApplyDesignFont(dirList, ui::StandardGothicFamily());

    // The drive list takes the height its font needs; the folder list starts below it and
    // ends where it was designed to end.
    const QRect drive = ui::TwipsRect(120, 120, 4095, 0);
    const int driveHeight = drvList->sizeHint().height();
    drvList->setGeometry(drive.left(), drive.top(), drive.width(), driveHeight);
    const QRect folders = ui::TwipsRect(120, 360, 4095, 3660);
    const int foldersTop = drive.top() + driveHeight + 4;
    dirList->setGeometry(folders.left(), foldersTop, folders.width(),
                         folders.bottom() + 1 - foldersTop);

    const QString captions[2] = {QStringLiteral("OK"), QStringLiteral("キャンセル")};
    const int lefts[2] = {1800, 3000};
    for (int i = 0; i < 2; ++i) {
        Btn[i] = new QPushButton(captions[i], this);
        Btn[i]->setObjectName(QStringLiteral("Btn_%1").arg(i));
        Btn[i]->setAutoDefault(false);
        ui::PlaceTwips(Btn[i], lefts[i], 4200, 1095, 375);
        connect(Btn[i], &QPushButton::clicked, this, [this, i] { Btn_Click(i); });
    }

    if (!dirList->setPath(QDir::currentPath())) {
        dirList->setPath(QStringLiteral("/"));
    }
    SetMountPoints(ListMountPoints());
    connect(drvList, &QComboBox::currentIndexChanged, this, &Frm_Dir::drvList_Change);
    connect(dirList, &FolderList::pathChanged, this, &Frm_Dir::SyncDriveToFolder);
    dirList->setFocus();
}

Frm_Dir::~Frm_Dir() {
    // The lists outlive this part of the object while the dialog base closes the window.
    disconnect(dirList, nullptr, this, nullptr);
    disconnect(drvList, nullptr, this, nullptr);
}

void Frm_Dir::SetMountPoints(const std::vector<std::string>& mounts) {
    mounts_ = mounts;
    const QSignalBlocker blocker(drvList);
    drvList->clear();
    const QIcon icon = style()->standardIcon(QStyle::SP_DriveHDIcon);
    for (const std::string& mount : mounts_) {
        drvList->addItem(icon, QString::fromStdString(mount));
    }
    SyncDriveToFolder();
}

void Frm_Dir::SyncDriveToFolder() {
    const QString mount =
        QString::fromStdString(MountPointOfPath(dirList->path().toStdString(), mounts_));
    const QSignalBlocker blocker(drvList);
    drvList->setCurrentIndex(drvList->findText(mount));
}

void Frm_Dir::drvList_Change() {
    // A mount point that cannot be read leaves both lists on the folder shown before.
    if (drvList->currentIndex() < 0 || !dirList->setPath(drvList->currentText())) {
        SyncDriveToFolder();
    }
}

void Frm_Dir::Btn_Click(int index) {
    SelectedFolder.clear();
    if (index == 0) {
        dirList->applyHighlighted();
        SelectedFolder = dirList->path();
        accept();
        return;
    }
    reject();
}

} // namespace oxlip
