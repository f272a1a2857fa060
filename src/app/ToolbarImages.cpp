#include "app/ToolbarImages.h"

#include <QMouseEvent>
#include <QPainter>
#include <utility>

namespace oxlip {

ImageElement::ImageElement(const QIcon& icon, bool greyedLook, QWidget* parent)
    : QWidget(parent), icon_(icon), greyedLook_(greyedLook) {
    resize(24, 22);
    setAttribute(Qt::WA_Hover, true);
}

void ImageElement::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    if (hover_ && isEnabled() && !greyedLook_) {
        const QColor frame = palette().color(QPalette::Highlight);
        painter.setPen(frame);
        QColor fill = frame;
        fill.setAlpha(pressed_ ? 90 : 40);
        painter.setBrush(fill);
        painter.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 3, 3);
    }
    const QRect iconRect = rect().adjusted(2, 1, -2, -1);
    icon_.paint(&painter, iconRect, Qt::AlignCenter, greyedLook_ ? QIcon::Disabled : QIcon::Normal);
}

void ImageElement::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        pressed_ = true;
        update();
    }
}

void ImageElement::mouseReleaseEvent(QMouseEvent* event) {
    const bool wasPressed = pressed_;
    pressed_ = false;
    update();
    if (event->button() == Qt::LeftButton && wasPressed && isEnabled() &&
        rect().contains(event->position().toPoint())) {
        emit clicked();
    }
}

void ImageElement::enterEvent(QEnterEvent*) {
    hover_ = true;
    update();
}

void ImageElement::leaveEvent(QEvent*) {
    hover_ = false;
    pressed_ = false;
    update();
}

ImagePair::ImagePair(QWidget* toolbar, const QIcon& icon, int left, const QString& tooltip,
                     std::function<void()> command) {
    for (int i = 0; i < 2; ++i) {
        auto* element = new ImageElement(icon, i == 1, toolbar);
        element->setGeometry(left, 0, 24, 22);
        element->setToolTip(tooltip);
        QObject::connect(element, &ImageElement::clicked, element, command);
        elements_[i] = element;
    }
}

void ImagePair::stack() {
    elements_[1]->move(elements_[0]->x(), elements_[1]->y());
}

void ImagePair::show(int shownElement) {
    elements_[0]->setVisible(shownElement == 0);
    elements_[1]->setVisible(shownElement != 0);
}

void ImagePair::setBothEnabled(bool enabled) {
    elements_[0]->setEnabled(enabled);
    elements_[1]->setEnabled(enabled);
}

void ImagePair::setActive(bool active) {
    show(active ? 0 : 1);
    setBothEnabled(active);
}

int ImagePair::shownElement() const {
    return elements_[0]->isVisibleTo(elements_[0]->parentWidget()) ? 0 : 1;
}

} // namespace oxlip
