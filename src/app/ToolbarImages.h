#pragma once
// The toolbar's image pairs: two images at one place, element 0 the normal look and element
// 1 the greyed look; exactly one of them is shown. A click on an enabled element runs the
// pair's command.

#include <QIcon>
#include <QWidget>

#include <array>
#include <functional>

namespace oxlip {

class ImageElement : public QWidget {
    Q_OBJECT
public:
    ImageElement(const QIcon& icon, bool greyedLook, QWidget* parent);
    QSize sizeHint() const override { return {24, 22}; }

signals:
    void clicked();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    QIcon icon_;
    bool greyedLook_;
    bool hover_ = false;
    bool pressed_ = false;
};

class ImagePair {
public:
    ImagePair(QWidget* toolbar, const QIcon& icon, int left, const QString& tooltip,
              std::function<void()> command);

    ImageElement* element(int index) const { return elements_.at(index); }
    // Element 1 moved onto element 0's place.
    void stack();
    // shown 0: element 0 visible, element 1 hidden; shown 1 the reverse.
    void show(int shownElement);
    void setBothEnabled(bool enabled);
    // The usual pairings: active (shown 0, enabled) and inactive (shown 1, disabled).
    void setActive(bool active);
    int shownElement() const;

private:
    std::array<ImageElement*, 2> elements_{};
};

} // namespace oxlip
