#include "dialogs/DialogUi.h"

#include <QCoreApplication>
#include <QFont>
#include <QKeyEvent>
#include <QLibraryInfo>
#include <QPushButton>
#include <QStringList>
#include <QTranslator>
#include <QWidget>

namespace oxlip::ui {

namespace {

// Sees the Enter keys that reach the dialog: a focused push button without the default role
// passes them on, and the dialog would run its default button instead.
class EnterOnFocusedButton : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() != QEvent::KeyPress) {
            return false;
        }
        const auto* key = static_cast<QKeyEvent*>(event);
        const bool enter = key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter;
        const Qt::KeyboardModifiers mods = key->modifiers() & ~Qt::KeypadModifier;
        auto* button = qobject_cast<QPushButton*>(static_cast<QWidget*>(watched)->focusWidget());
        if (!enter || mods != Qt::NoModifier || !button || !button->isVisible()) {
            return false;
        }
        if (button->isEnabled()) {
            button->click();
        }
        return true;
    }
};

} // namespace

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
    dialog->installEventFilter(new EnterOnFocusedButton(dialog));
}

bool InstallQtJapaneseTranslation() {
    static bool installed = false;
    if (!installed) {
        auto* translator = new QTranslator(QCoreApplication::instance());
        installed = translator->load(QStringLiteral("qtbase_ja"),
                                     QLibraryInfo::path(QLibraryInfo::TranslationsPath)) &&
                    QCoreApplication::installTranslator(translator);
        if (!installed) {
            delete translator;
        }
    }
    return installed;
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
