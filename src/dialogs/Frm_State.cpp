#include "dialogs/Frm_State.h"

#include <QLabel>
#include <QPainter>
#include <QPushButton>

#include <algorithm>

namespace oxlip {

ProgressBarBox::ProgressBarBox(QWidget* parent) : QWidget(parent) {}

void ProgressBarBox::clear() {
    filled_ = 0;
    update();
}

void ProgressBarBox::grow(int64_t done, int64_t expected) {
    if (expected <= 0) {
        return;
    }
    const int64_t clamped = std::clamp<int64_t>(done, 0, expected);
    // In floating point: done times the width could pass 64 bits for a huge file.
    const int width = static_cast<int>(static_cast<double>(clamped) /
                                       static_cast<double>(expected) * this->width());
    if (width > filled_) {
        filled_ = width;
        update();
    }
}

void ProgressBarBox::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    if (filled_ > 0) {
        painter.fillRect(QRect(0, 0, filled_, height()), palette().color(QPalette::Highlight));
    }
}

Frm_State::Frm_State(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("処理中です..."));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    setModal(false);
    // Shown beside the main window without taking the focus from it.
    setAttribute(Qt::WA_ShowWithoutActivating);
    setFont(QFont(QStringLiteral("MS UI Gothic"), 9));
    setFixedSize(267, 153);
    const int tops[3] = {16, 40, 88};
    for (int i = 0; i < 3; ++i) {
        Lbl[i] = new QLabel(this);
        Lbl[i]->setGeometry(8, tops[i], 249, 17);
        Lbl[i]->setObjectName(QStringLiteral("Lbl%1").arg(i));
    }
    Prog = new ProgressBarBox(this);
    Prog->setObjectName(QStringLiteral("Prog"));
    Prog->setGeometry(8, 64, 250, 17);
    Prog->hide();
    Btn_Cancel = new QPushButton(QStringLiteral("キャンセル"), this);
    Btn_Cancel->setObjectName(QStringLiteral("Btn_Cancel"));
    Btn_Cancel->setAutoDefault(false);
    Btn_Cancel->setGeometry(89, 112, 89, 33);
    connect(Btn_Cancel, &QPushButton::clicked, this, &Frm_State::reject);
}

void Frm_State::reject() {
    if (Btn_Cancel->isEnabled()) {
        Btn_Cancel->setEnabled(false);
        emit cancelRequested();
    }
}

void Frm_State::setItemText(const std::string& text) {
    Lbl[0]->setText(QString::fromStdString(text));
}

void Frm_State::setModeText(const std::string& text) {
    Lbl[1]->setText(QString::fromStdString(text));
}

void Frm_State::clearBar() {
    Prog->clear();
    Prog->show();
}

void Frm_State::setBar(int64_t done, int64_t expected) {
    Prog->grow(done, expected);
}

void Frm_State::setCountText(const std::string& text) {
    Lbl[2]->setText(QString::fromStdString(text));
}

} // namespace oxlip
