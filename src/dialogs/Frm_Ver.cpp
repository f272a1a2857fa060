#include "dialogs/DialogUi.h"
#include "dialogs/Dialogs.h"
#include "settings/Version.h"

#include <QApplication>
#include <QDesktopServices>
#include <QEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QUrl>

namespace oxlip {

namespace {
const QString kProductName = QStringLiteral("Oxlip");
} // namespace

QString Frm_Ver::WebAddress() {
    return QStringLiteral("https://oxlip.example.org/");
}

QString Frm_Ver::MailAddress() {
    return QStringLiteral("support@oxlip.example.org");
}

Frm_Ver::Frm_Ver(const QIcon& icon, QWidget* parent) : QDialog(parent) {
    ui::SetUpDialog(this, QStringLiteral("Frm_Ver"),
                    kProductName + QStringLiteral(" のバージョン情報"), 4635, 2640);
    QApplication::beep();

    setWindowIcon(icon);
    Image1 = new QLabel(this);
    Image1->setObjectName(QStringLiteral("Image1"));
    ui::PlaceTwips(Image1, 120, 120, 720, 720);
    Image1->setPixmap(icon.pixmap(Image1->size()));

    // Labels sized to their text take the height their font needs.
    auto makeLabel = [this](const QString& name, const QString& text, int left, int top,
                            int width) {
        auto* label = new QLabel(text, this);
        label->setObjectName(name);
        const QRect r = ui::TwipsRect(left, top, width, 0);
        label->setGeometry(r.left(), r.top(), r.width(), label->sizeHint().height());
        return label;
    };
    Label1 = makeLabel(QStringLiteral("Label1"), kProductName, 960, 120, 1695);
    Label2 =
        makeLabel(QStringLiteral("Label2"), QString::fromStdString(VersionText()), 960, 360, 1815);
    Label3 = new QLabel(this);
    Label3->setObjectName(QStringLiteral("Label3"));
    Label3->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    ui::PlaceTwips(Label3, 960, 720, 2895, 615);
    Label3->setText(QStringLiteral("FTP転送試験ソフト\r\n\r\n㈱ノルベア")
                        .replace(QStringLiteral("\r\n"), QStringLiteral("\n")));
    Label4 = makeLabel(QStringLiteral("Label4"), WebAddress(), 960, 1440, 3375);
    Label5 = makeLabel(QStringLiteral("Label5"), MailAddress(), 960, 1680, 2655);

    Command1 = new QPushButton(QStringLiteral("OK"), this);
    Command1->setObjectName(QStringLiteral("Command1"));
    Command1->setDefault(true);
    ui::PlaceTwips(Command1, 1800, 2160, 1095, 375);
    connect(Command1, &QPushButton::clicked, this, &QDialog::accept);

    setMouseTracking(true);
    for (QLabel* label : {Label3, Label4, Label5}) {
        label->setMouseTracking(true);
        label->installEventFilter(this);
    }
    for (QLabel* link : {Label4, Label5}) {
        link->setCursor(Qt::PointingHandCursor);
        SetLinkLook(link, false);
    }
    installEventFilter(this);
}

void Frm_Ver::SetLinkLook(QLabel* label, bool highlighted) {
    QFont font = label->font();
    font.setUnderline(highlighted);
    label->setFont(font);
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, highlighted ? QColor(0, 0, 255) : QColor(0, 0, 0));
    label->setPalette(palette);
}

void Frm_Ver::HighlightOnly(QLabel* label) {
    SetLinkLook(Label4, label == Label4);
    SetLinkLook(Label5, label == Label5);
}

bool Frm_Ver::eventFilter(QObject* watched, QEvent* event) {
    const bool isLink = watched == Label4 || watched == Label5;
    switch (event->type()) {
    case QEvent::Enter:
    case QEvent::MouseMove:
        if (isLink) {
            HighlightOnly(static_cast<QLabel*>(watched));
            // Handled here: the move must not reach the window's background.
            return event->type() == QEvent::MouseMove;
        }
        if (watched == this || watched == Label3) {
            HighlightOnly(nullptr);
        }
        break;
    case QEvent::Leave:
        if (isLink) {
            SetLinkLook(static_cast<QLabel*>(watched), false);
        }
        break;
    case QEvent::MouseButtonRelease:
        if (isLink && static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
            QDesktopServices::openUrl(watched == Label4
                                          ? QUrl(WebAddress())
                                          : QUrl(QStringLiteral("mailto:") + MailAddress()));
            return true;
        }
        break;
    default:
        break;
    }
    return QDialog::eventFilter(watched, event);
}

} // namespace oxlip
