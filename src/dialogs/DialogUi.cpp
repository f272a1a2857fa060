#include "dialogs/DialogUi.h"

#include <QFont>
#include <QStringList>
#include <QWidget>

namespace oxlip::ui {

QRect TwipsRect(int left, int top, int width, int height) {
    return QRect(TwipsToPixels(left), TwipsToPixels(top), TwipsToPixels(width),
                 TwipsToPixels(height));
}

void PlaceTwips(QWidget* widget, int left, int top, int width, int height) {
    widget->setGeometry(TwipsRect(left, top, width, height));
}

void SetClientSizeTwips(QWidget* dialog, int width, int height) {
    dialog->setFixedSize(TwipsToPixels(width), TwipsToPixels(height));
}

void SetUpDialog(QWidget* dialog, const QString& name, const QString& caption, int width,
                 int height) {
    dialog->setObjectName(name);
    dialog->setWindowTitle(caption);
    ApplyDesignFont(dialog, UiGothicFamily());
    SetClientSizeTwips(dialog, width, height);
}

void InstallJapaneseFontSubstitutes() {
    static bool installed = false;
    if (installed) {
        return;
    }
    installed = true;
    const QStringList proportional{QStringLiteral("IPAPGothic"), QStringLiteral("IPAGothic"),
                                   QStringLiteral("Noto Sans CJK JP")};
    const QStringList fixed{QStringLiteral("IPAGothic"), QStringLiteral("IPAPGothic"),
                            QStringLiteral("Noto Sans Mono CJK JP")};
    QFont::insertSubstitutions(UiGothicFamily(), proportional);
    QFont::insertSubstitutions(StandardGothicFamily(), fixed);
    QFont::insertSubstitutions(QStringLiteral("ＭＳ ゴシック"), fixed);
}

void ApplyDesignFont(QWidget* widget, const QString& family) {
    InstallJapaneseFontSubstitutes();
    QFont font(family);
    font.setPointSize(9);
    widget->setFont(font);
}

} // namespace oxlip::ui
