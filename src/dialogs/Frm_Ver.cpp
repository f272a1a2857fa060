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
    iconLabel = new QLabel(this);
    iconLabel->setObjectName(QStringLiteral("Image1"));
    ui::PlaceTwips(iconLabel, 120, 120, 720, 720);
    iconLabel->setPixmap(icon.pixmap(iconLabel->size()));

    // Labels sized to their text take the height their font needs.
    auto makeLabel = [this](const QString& name, const QString& text, int left, int top,
                            int width) {
        auto* label = new QLabel(text, this);
        label->setObjectName(name);
        const QRect r = ui::TwipsRect(left, top, width, 0);
        label->setGeometry(r.left(), r.top(), r.width(), label->sizeHint().height());
        return label;
    };
    productLabel = makeLabel(QStringLiteral("Label1"), kProductName, 960, 120, 1695);
    versionLabel =
        makeLabel(QStringLiteral("Label2"), QString::fromStdString(VersionText()), 960, 360, 1815);
    creditLabel = new QLabel(this);
    creditLabel->setObjectName(QStringLiteral("Label3"));
    creditLabel->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    ui::PlaceTwips(creditLabel, 960, 720, 2895, 615);
    creditLabel->setText(QStringLiteral("FTP転送試験ソフト\r\n\r\n㈱ノルベア")
                             .replace(QStringLiteral("\r\n"), QStringLiteral("\n")));
    webLink = makeLabel(QStringLiteral("Label4"), WebAddress(), 960, 1440, 3375);
    mailLink = makeLabel(QStringLiteral("Label5"), MailAddress(), 960, 1680, 2655);

    okButton = new QPushButton(QStringLiteral("OK"), this);
    okButton->setObjectName(QStringLiteral("Command1"));
    okButton->setDefault(true);
    ui::PlaceTwips(okButton, 1800, 2160, 1095, 375);
    connect(okButton, &QPushButton::clicked, this, &QDialog::accept);

    setMouseTracking(true);
    for (QLabel* label : {creditLabel, webLink, mailLink}) {
        label->setMouseTracking(true);
        label->installEventFilter(this);
    }
    for (QLabel* link : {webLink, mailLink}) {
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
    SetLinkLook(webLink, label == webLink);
    SetLinkLook(mailLink, label == mailLink);
}

bool Frm_Ver::eventFilter(QObject* watched, QEvent* event) {
    const bool isLink = watched == webLink || watched == mailLink;
    switch (event->type()) {
    case QEvent::Enter:
    case QEvent::MouseMove:
        if (isLink) {
            HighlightOnly(static_cast<QLabel*>(watched));
            // Handled here: the move must not reach the window's background.
            return event->type() == QEvent::MouseMove;
        }
        if (watched == this || watched == creditLabel) {
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
            QDesktopServices::openUrl(watched == webLink
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
