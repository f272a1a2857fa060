#include "dialogs/DialogUi.h"
#include "dialogs/Dialogs.h"
#include "dialogs/Modal.h"
#include "ftp/RemoteOps.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPalette>
#include <QPushButton>

namespace oxlip {

namespace {

// The digit of one group: read 4, write 2, execute 1, from the three boxes top to bottom.
int GroupDigit(QCheckBox* const boxes[3]) {
    return (boxes[0]->isChecked() ? 4 : 0) + (boxes[1]->isChecked() ? 2 : 0) +
           (boxes[2]->isChecked() ? 1 : 0);
}

bool IsOctal(const QString& text) {
    for (const QChar c : text) {
        if (c < QLatin1Char('0') || c > QLatin1Char('7')) {
            return false;
        }
    }
    return !text.isEmpty();
}

// The permission digits: the first three characters when they are octal digits; otherwise
// one to three octal digits, as the host pane shows a mode such as 044 ("44"), padded on the
// left. "000" for anything else.
QString UsablePermission(const QString& pms) {
    if (pms.size() >= 3 && IsOctal(pms.left(3))) {
        return pms.left(3);
    }
    const QString digits = pms.trimmed();
    if (digits.size() <= 3 && IsOctal(digits)) {
        return digits.rightJustified(3, QLatin1Char('0'));
    }
    return QStringLiteral("000");
}

} // namespace

Frm_Pms::Frm_Pms(Session* session, const QString& filename, const QString& pms, QWidget* parent)
    : QDialog(parent), strFilename(filename), strPms(pms) {
    sendCommand = [session](const std::string& command) {
        return session && SendFtpCommand(*session, command).ok();
    };
    ui::SetUpDialog(this, QStringLiteral("Frm_Pms"), QStringLiteral("パーミッションの変更"), 6990,
                    3375);

    nameCaption = new QLabel(QStringLiteral("対象ファイル/フォルダ名"), this);
    nameCaption->setObjectName(QStringLiteral("Label1"));
    // Ends where the name box begins (the designed 255 twips would overlap it).
    ui::PlaceTwips(nameCaption, 120, 120, 3375, 240);
    txt_name = new QLineEdit(this);
    txt_name->setObjectName(QStringLiteral("txt_name"));
    QPalette palette = txt_name->palette();
    palette.setColor(QPalette::Base, palette.color(QPalette::Button));
    txt_name->setPalette(palette);
    ui::PlaceTwips(txt_name, 120, 360, 3375, 285);

    const QString frameCaptions[3] = {QStringLiteral("オーナー権限"),
                                      QStringLiteral("グループ権限"),
                                      QStringLiteral("全てのユーザー権限")};
    const QString frameNames[3] = {QStringLiteral("Frame1"), QStringLiteral("Frame2"),
                                   QStringLiteral("Frame3")};
    const QString groupNames[3] = {QStringLiteral("own"), QStringLiteral("grp"),
                                   QStringLiteral("usr")};
    const QString boxCaptions[3] = {QStringLiteral("読み取り許可 ( &4 )"),
                                    QStringLiteral("書き込み許可 ( &2 )"),
                                    QStringLiteral("実行許可 ( &1 )")};
    const int frameLefts[3] = {120, 2400, 4680};
    const int boxTops[3] = {720, 1080, 1440};
    QGroupBox** frames[3] = {&ownerFrame, &groupFrame, &othersFrame};
    QLabel** labels[3] = {&ownerDigit, &groupDigit, &othersDigit};
    QCheckBox** boxes[3] = {ownerBoxes, groupBoxes, othersBoxes};

    for (int g = 0; g < 3; ++g) {
        auto* frame = new QGroupBox(frameCaptions[g], this);
        frame->setObjectName(frameNames[g]);
        ui::PlaceTwips(frame, frameLefts[g], 840, 2175, 1815);
        *frames[g] = frame;
        auto* label = new QLabel(frame);
        label->setObjectName(QStringLiteral("lbl_") + groupNames[g]);
        ui::PlaceTwips(label, 240, 360, 975, 255);
        *labels[g] = label;
        for (int b = 0; b < 3; ++b) {
            auto* box = new QCheckBox(boxCaptions[b], frame);
            box->setObjectName(QStringLiteral("chk_%1_%2").arg(groupNames[g]).arg(b));
            ui::PlaceTwips(box, 240, boxTops[b], 1815, 255);
            boxes[g][b] = box;
        }
        // Every change of a box, by a click or by the program, recomputes the group's digit.
        QCheckBox* const* group = boxes[g];
        for (int b = 0; b < 3; ++b) {
            connect(group[b], &QCheckBox::toggled, this,
                    [label, group] { label->setText(QString::number(GroupDigit(group))); });
        }
    }

    cmd_ok = new QPushButton(QStringLiteral("OK(&O)"), this);
    cmd_ok->setObjectName(QStringLiteral("cmd_ok"));
    ui::PlaceTwips(cmd_ok, 4080, 2760, 1335, 495);
    cmd_ok->setDefault(true);
    cmd_cancel = new QPushButton(QStringLiteral("キャンセル(&C)"), this);
    cmd_cancel->setObjectName(QStringLiteral("cmd_cancel"));
    cmd_cancel->setAutoDefault(false);
    ui::PlaceTwips(cmd_cancel, 5520, 2760, 1335, 495);
    connect(cmd_ok, &QPushButton::clicked, this, &Frm_Pms::cmd_ok_Click);
    connect(cmd_cancel, &QPushButton::clicked, this, &Frm_Pms::cmd_cancel_Click);

    txt_name->setText(strFilename);
    const QString digits = UsablePermission(strPms);
    for (int g = 0; g < 3; ++g) {
        const int d = digits[g].digitValue();
        (*labels[g])->setText(QString::number(d));
        boxes[g][0]->setChecked((d & 4) != 0);
        boxes[g][1]->setChecked((d & 2) != 0);
        boxes[g][2]->setChecked((d & 1) != 0);
    }
}

QString Frm_Pms::Digits() const {
    return ownerDigit->text() + groupDigit->text() + othersDigit->text();
}

QString Frm_Pms::CommandText() const {
    return QStringLiteral("SITE CHMOD ") + Digits() + QLatin1Char(' ') + strFilename +
           QLatin1Char('\r');
}

void Frm_Pms::cmd_ok_Click() {
    // The name goes into a command line unquoted: a line break in it would end the command
    // early and send the rest as a second command.
    if (strFilename.contains(QLatin1Char('\r')) || strFilename.contains(QLatin1Char('\n')) ||
        strFilename.contains(QChar(0))) {
        ui::ShowMessage(this,
                        QStringLiteral("名前に改行が含まれているため\r\n"
                                       "パーミッションを変更できません"),
                        ui::MsgIcon::Critical, ui::MsgButtons::Ok);
        strFilename.clear();
        reject();
        return;
    }
    if (!sendCommand(CommandText().toStdString())) {
        // Nothing changed on the server: answer as a cancel, so that the caller keeps the
        // permissions it shows.
        ui::ShowMessage(this, QStringLiteral("パーミッションの変更に失敗しました"),
                        ui::MsgIcon::Critical, ui::MsgButtons::Ok);
        strFilename.clear();
        reject();
        return;
    }
    strPms = Digits() + QLatin1Char(' ');
    accept();
}

void Frm_Pms::cmd_cancel_Click() {
    strFilename.clear();
    reject();
}

void Frm_Pms::keyPressEvent(QKeyEvent* event) {
    // Esc is the cancel button; only the close box leaves the name set.
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        cmd_cancel_Click();
        return;
    }
    QDialog::keyPressEvent(event);
}

} // namespace oxlip
