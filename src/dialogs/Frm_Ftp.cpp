#include "dialogs/DialogUi.h"
#include "dialogs/Dialogs.h"
#include "dialogs/Modal.h"

#include <QCheckBox>
#include <QEvent>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSpinBox>

namespace oxlip {

Frm_Ftp::Frm_Ftp(Settings& settings, QWidget* parent) : QDialog(parent), settings_(settings) {
    ui::SetUpDialog(this, QStringLiteral("Frm_Ftp"), QStringLiteral("FTP転送の詳細"), 5325, 4485);

    extensionFrame = new QGroupBox(QStringLiteral("自動判別転送"), this);
    extensionFrame->setObjectName(QStringLiteral("Frame1"));
    ui::PlaceTwips(extensionFrame, 120, 120, 5055, 2535);

    extensionBox = new QLineEdit(extensionFrame);
    extensionBox->setObjectName(QStringLiteral("txt"));
    ui::PlaceTwips(extensionBox, 120, 360, 1335, 270);

    const QString captions[3] = {QStringLiteral("リストへ追加"), QStringLiteral("リストから削除"),
                                 QStringLiteral("初期値に戻す")};
    const int tops[3] = {840, 1320, 1920};
    for (int i = 0; i < 3; ++i) {
        Btn[i] = new QPushButton(captions[i], extensionFrame);
        Btn[i]->setObjectName(QStringLiteral("Btn_%1").arg(i));
        Btn[i]->setAutoDefault(false);
        ui::PlaceTwips(Btn[i], 120, tops[i], 1335, 375);
        connect(Btn[i], &QPushButton::clicked, this, [this, i] { Btn_Click(i); });
    }
    Btn[0]->setToolTip(QStringLiteral("ﾘｽﾄへ追加します"));
    Btn[1]->setToolTip(QStringLiteral("選択した拡張子をﾘｽﾄから削除します"));

    List = new QListWidget(extensionFrame);
    List->setObjectName(QStringLiteral("List"));
    List->setSelectionMode(QAbstractItemView::SingleSelection);
    List->installEventFilter(this);
    ui::PlaceTwips(List, 1560, 360, 1335, 2010);

    hint = new QLabel(extensionFrame);
    hint->setObjectName(QStringLiteral("Label1"));
    hint->setWordWrap(true);
    hint->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    ui::PlaceTwips(hint, 3000, 360, 1935, 1935);

    listFrame = new QGroupBox(QStringLiteral("ファイル一覧"), this);
    listFrame->setObjectName(QStringLiteral("Frame2"));
    ui::PlaceTwips(listFrame, 120, 2760, 3135, 855);
    chk_list = new QCheckBox(QStringLiteral("ファイルリストをキャッシングする"), listFrame);
    chk_list->setObjectName(QStringLiteral("chk_list"));
    ui::PlaceTwips(chk_list, 120, 360, 2775, 255);

    // Below the list caching: how many connections a folder tree is moved over.
    parallelFrame = new QGroupBox(QStringLiteral("フォルダの転送"), this);
    parallelFrame->setObjectName(QStringLiteral("Frame3"));
    ui::PlaceTwips(parallelFrame, 120, 3720, 3135, 615);
    auto* parallelLabel = new QLabel(QStringLiteral("同時転送数"), parallelFrame);
    parallelLabel->setObjectName(QStringLiteral("Label2"));
    ui::PlaceTwips(parallelLabel, 120, 285, 1095, 255);
    Spn_Parallel = new QSpinBox(parallelFrame);
    Spn_Parallel->setObjectName(QStringLiteral("Spn_Parallel"));
    Spn_Parallel->setRange(1, kMaxParallel);
    parallelLabel->setBuddy(Spn_Parallel);
    ui::PlaceTwips(Spn_Parallel, 1260, 240, 735, 300);

    Btn_Close = new QPushButton(QStringLiteral("閉じる(&C)"), this);
    Btn_Close->setObjectName(QStringLiteral("Btn_Close"));
    Btn_Close->setAutoDefault(false);
    ui::PlaceTwips(Btn_Close, 3960, 3240, 1215, 375);
    connect(Btn_Close, &QPushButton::clicked, this, &Frm_Ftp::Btn_Close_Click);

    hint->setText(QStringLiteral("アスキーで転送する拡張子を指定してください\n"
                                 "リストにない拡張子は全てバイナリで転送されます"));
    FillList();
    chk_list->setChecked(settings_.ListCache);
    // Caching takes effect at once, also for a transfer that waits while the dialog is open.
    connect(chk_list, &QCheckBox::toggled, this, [this](bool on) { settings_.ListCache = on; });
    Spn_Parallel->setValue(settings_.Parallel);
    connect(Spn_Parallel, &QSpinBox::valueChanged, this,
            [this](int count) { settings_.Parallel = count; });
    extensionBox->setFocus();
}

void Frm_Ftp::FillList() {
    List->clear();
    for (const std::string& ext : settings_.AsciiExtensionList) {
        List->addItem(QString::fromStdString(ext));
    }
}

void Frm_Ftp::Btn_Click(int index) {
    switch (index) {
    case 0:
        AddExtension();
        break;
    case 1:
        RemoveExtension();
        break;
    case 2:
        ResetExtensions();
        break;
    default:
        break;
    }
}

void Frm_Ftp::AddExtension() {
    if (extensionBox->text().isEmpty()) {
        return;
    }
    const QString upper = extensionBox->text().toUpper();
    for (int i = 0; i < List->count(); ++i) {
        if (List->item(i)->text().toUpper() == upper) {
            return;
        }
    }
    List->addItem(upper);
    settings_.AsciiExtensionList.push_back(upper.toStdString());
    List->setCurrentRow(List->count() - 1);
}

void Frm_Ftp::RemoveExtension() {
    const QList<QListWidgetItem*> selected = List->selectedItems();
    if (selected.isEmpty()) {
        return;
    }
    delete List->takeItem(List->row(selected.first()));
    settings_.AsciiExtensionList.clear();
    for (int i = 0; i < List->count(); ++i) {
        settings_.AsciiExtensionList.push_back(List->item(i)->text().toStdString());
    }
}

void Frm_Ftp::ResetExtensions() {
    settings_.SetDefaultAsciiExtensions();
    FillList();
}

void Frm_Ftp::Btn_Close_Click() {
    if (!settings_.SaveAsciiExtensions()) {
        ui::ShowMessage(this,
                        QStringLiteral("拡張子の一覧を保存できませんでした\r\n"
                                       "一覧は終了時にもう一度保存されます"),
                        ui::MsgIcon::Critical, ui::MsgButtons::Ok);
    }
    accept();
}

bool Frm_Ftp::eventFilter(QObject* watched, QEvent* event) {
    if (watched == List && event->type() == QEvent::KeyRelease &&
        static_cast<QKeyEvent*>(event)->key() == Qt::Key_Delete) {
        RemoveExtension();
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

} // namespace oxlip
