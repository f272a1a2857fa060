#pragma once
// Small helpers shared by the secondary windows: design units and fonts.

#include <QRect>
#include <QString>

class QWidget;

namespace oxlip::ui {

// Dialog layouts are designed in twips, 15 to a pixel.
constexpr int kTwipsPerPixel = 15;
constexpr int TwipsToPixels(int twips) {
    return (twips + kTwipsPerPixel / 2) / kTwipsPerPixel;
}
QRect TwipsRect(int left, int top, int width, int height);

// Places a child at a position given in twips, relative to its parent.
void PlaceTwips(QWidget* widget, int left, int top, int width, int height);

// Gives a dialog its fixed client size in twips.
void SetClientSizeTwips(QWidget* dialog, int width, int height);

// Names a dialog, gives it its caption, the designed font and its fixed client size in twips;
// Enter then activates the focused push button (the default button when the focus is
// elsewhere, as in a text box).
void SetUpDialog(QWidget* dialog, const QString& name, const QString& caption, int width,
                 int height);

// Loads Qt's own Japanese texts (the standard buttons of message boxes: はい, いいえ,
// キャンセル) into the application, once. False when the translation is not installed.
bool InstallQtJapaneseTranslation();

// Maps the designed font families onto the installed Japanese Gothic fonts (once per process).
void InstallJapaneseFontSubstitutes();

// Sets the designed font family at the designed 9 points.
void ApplyDesignFont(QWidget* widget, const QString& family);

// The designed families.
inline QString UiGothicFamily() {
    return QStringLiteral("MS UI Gothic");
}
inline QString StandardGothicFamily() {
    return QStringLiteral("標準ゴシック");
}

} // namespace oxlip::ui
