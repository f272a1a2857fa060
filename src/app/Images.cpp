#include "app/Images.h"

#include <QIconEngine>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QtMath>

namespace oxlip::images {

namespace {

// Colours of one drawing: the greyed look maps every colour to a light grey of similar
// brightness, so a disabled image reads as disabled whatever its normal colours are.
struct Ink {
    bool grey = false;
    QColor operator()(QColor c) const {
        if (!grey) {
            return c;
        }
        const int g = 150 + qGray(c.rgb()) * 80 / 255;
        return QColor(g, g, g, c.alpha());
    }
    QColor operator()(int r, int g, int b, int a = 255) const {
        return (*this)(QColor(r, g, b, a));
    }
};

QPen outline(const Ink& ink, QColor c, qreal width = 1.2) {
    QPen pen(ink(c), width);
    pen.setJoinStyle(Qt::RoundJoin);
    pen.setCapStyle(Qt::RoundCap);
    return pen;
}

// Everything is drawn on a 32 x 32 canvas.
void drawFolder(QPainter& p, const Ink& ink, QRectF box = QRectF(2, 6, 28, 21)) {
    const qreal x = box.x(), y = box.y(), w = box.width(), h = box.height();
    QPainterPath back;
    back.moveTo(x, y + h);
    back.lineTo(x, y + 1.5);
    back.lineTo(x + w * 0.38, y + 1.5);
    back.lineTo(x + w * 0.46, y + h * 0.2);
    back.lineTo(x + w, y + h * 0.2);
    back.lineTo(x + w, y + h);
    back.closeSubpath();
    p.setPen(outline(ink, QColor(150, 110, 20)));
    p.setBrush(ink(QColor(230, 180, 60)));
    p.drawPath(back);
    QPainterPath front;
    front.moveTo(x, y + h);
    front.lineTo(x + w * 0.06, y + h * 0.36);
    front.lineTo(x + w, y + h * 0.36);
    front.lineTo(x + w * 0.97, y + h);
    front.closeSubpath();
    QLinearGradient grad(0, y + h * 0.36, 0, y + h);
    grad.setColorAt(0, ink(QColor(255, 220, 110)));
    grad.setColorAt(1, ink(QColor(245, 195, 70)));
    p.setBrush(grad);
    p.drawPath(front);
}

void drawSheet(QPainter& p, const Ink& ink, QRectF box, QColor fill = QColor(255, 255, 255)) {
    const qreal x = box.x(), y = box.y(), w = box.width(), h = box.height();
    const qreal fold = w * 0.32;
    QPainterPath sheet;
    sheet.moveTo(x, y);
    sheet.lineTo(x + w - fold, y);
    sheet.lineTo(x + w, y + fold);
    sheet.lineTo(x + w, y + h);
    sheet.lineTo(x, y + h);
    sheet.closeSubpath();
    p.setPen(outline(ink, QColor(90, 100, 120)));
    p.setBrush(ink(fill));
    p.drawPath(sheet);
    QPainterPath corner;
    corner.moveTo(x + w - fold, y);
    corner.lineTo(x + w - fold, y + fold);
    corner.lineTo(x + w, y + fold);
    p.setBrush(ink(QColor(215, 222, 235)));
    p.drawPath(corner);
}

void drawTextFile(QPainter& p, const Ink& ink) {
    const QRectF box(6, 2, 20, 28);
    drawSheet(p, ink, box);
    p.setPen(outline(ink, QColor(60, 110, 190), 1.6));
    for (int i = 0; i < 5; ++i) {
        const qreal y = 12 + i * 3.6;
        const qreal right = (i == 4) ? 17 : 22;
        p.drawLine(QPointF(10, y), QPointF(right, y));
    }
}

void drawOtherFile(QPainter& p, const Ink& ink) {
    drawSheet(p, ink, QRectF(6, 2, 20, 28));
    // A small block of binary content.
    p.setPen(Qt::NoPen);
    p.setBrush(ink(QColor(120, 70, 170)));
    p.drawRoundedRect(QRectF(10, 14, 12, 11), 2, 2);
    p.setBrush(ink(QColor(255, 255, 255)));
    p.drawRect(QRectF(12.5, 17, 2.5, 5));
    p.drawRect(QRectF(17, 17, 2.5, 5));
}

void drawArrow(QPainter& p, const Ink& ink, QPointF from, QPointF to, QColor colour, qreal width) {
    const QLineF line(from, to);
    const qreal angle = qDegreesToRadians(line.angle());
    const qreal head = width * 1.6;
    const QPointF back(-qCos(angle) * head * 1.3, qSin(angle) * head * 1.3);
    const QPointF side(qSin(angle) * head, qCos(angle) * head);
    const QPointF base = to + back;
    QPen pen(ink(colour.darker(140)), 1.0);
    pen.setJoinStyle(Qt::RoundJoin);
    p.setPen(pen);
    p.setBrush(ink(colour));
    QPainterPath path;
    const QPointF n(qSin(angle) * width / 2, qCos(angle) * width / 2);
    path.moveTo(from + n);
    path.lineTo(base + n);
    path.lineTo(base + side);
    path.lineTo(to);
    path.lineTo(base - side);
    path.lineTo(base - n);
    path.lineTo(from - n);
    path.closeSubpath();
    p.drawPath(path);
}

void drawPlug(QPainter& p, const Ink& ink, QPointF offset, bool left) {
    p.save();
    p.translate(offset);
    if (!left) {
        p.scale(-1, 1);
    }
    // Body of the plug, pointing to the right.
    p.setPen(outline(ink, QColor(40, 70, 40)));
    p.setBrush(ink(QColor(80, 170, 80)));
    p.drawRoundedRect(QRectF(-9, -5, 10, 10), 2, 2);
    p.setBrush(ink(QColor(200, 200, 200)));
    p.drawRect(QRectF(1, -3.5, 4, 2));
    p.drawRect(QRectF(1, 1.5, 4, 2));
    // Cable.
    p.setPen(outline(ink, QColor(40, 70, 40), 2.2));
    p.drawLine(QPointF(-9, 0), QPointF(-14, 0));
    p.restore();
}

void drawConnect(QPainter& p, const Ink& ink) {
    drawPlug(p, ink, QPointF(15, 16), true);
    drawPlug(p, ink, QPointF(17, 16), false);
}

void drawDisconnect(QPainter& p, const Ink& ink) {
    drawPlug(p, ink, QPointF(11, 16), true);
    drawPlug(p, ink, QPointF(21, 16), false);
    p.setPen(outline(ink, QColor(210, 40, 40), 2.0));
    p.drawLine(QPointF(14, 6), QPointF(18, 10));
    p.drawLine(QPointF(18, 22), QPointF(14, 26));
}

void drawNewFolder(QPainter& p, const Ink& ink) {
    drawFolder(p, ink, QRectF(2, 9, 24, 19));
    // A spark in the corner.
    p.setPen(outline(ink, QColor(200, 120, 0), 2.0));
    const QPointF c(25, 8);
    for (int i = 0; i < 4; ++i) {
        const qreal a = qDegreesToRadians(45.0 * i);
        const QPointF d(qCos(a) * 5.5, qSin(a) * 5.5);
        p.drawLine(c - d, c + d);
    }
}

void drawDelete(QPainter& p, const Ink& ink) {
    QPen pen(ink(QColor(205, 35, 35)), 5.0);
    pen.setCapStyle(Qt::RoundCap);
    p.setPen(pen);
    p.drawLine(QPointF(8, 8), QPointF(24, 24));
    p.drawLine(QPointF(24, 8), QPointF(8, 24));
}

// A tray with an arrow going into it or coming out of it.
void drawTrayArrow(QPainter& p, const Ink& ink, QPointF from, QPointF to, QColor colour) {
    p.setPen(outline(ink, QColor(60, 70, 90), 2.0));
    p.setBrush(Qt::NoBrush);
    QPainterPath tray;
    tray.moveTo(5, 20);
    tray.lineTo(5, 28);
    tray.lineTo(27, 28);
    tray.lineTo(27, 20);
    p.drawPath(tray);
    drawArrow(p, ink, from, to, colour, 6);
}

void drawDownload(QPainter& p, const Ink& ink) {
    drawTrayArrow(p, ink, QPointF(16, 3), QPointF(16, 25), QColor(40, 120, 220));
}

void drawUpload(QPainter& p, const Ink& ink) {
    drawTrayArrow(p, ink, QPointF(16, 24), QPointF(16, 2), QColor(230, 120, 30));
}

void drawSettings(QPainter& p, const Ink& ink) {
    // A card with a person: the connection profiles.
    p.setPen(outline(ink, QColor(70, 80, 100)));
    p.setBrush(ink(QColor(235, 240, 250)));
    p.drawRoundedRect(QRectF(2, 6, 28, 21), 3, 3);
    p.setBrush(ink(QColor(70, 120, 200)));
    p.setPen(Qt::NoPen);
    p.drawEllipse(QPointF(10.5, 13.5), 3.5, 3.5);
    QPainterPath body;
    body.moveTo(4.5, 24);
    body.cubicTo(5, 17, 16, 17, 16.5, 24);
    body.closeSubpath();
    p.drawPath(body);
    p.setPen(outline(ink, QColor(110, 120, 140), 1.8));
    p.drawLine(QPointF(19, 12), QPointF(27, 12));
    p.drawLine(QPointF(19, 17), QPointF(27, 17));
    p.drawLine(QPointF(19, 22), QPointF(25, 22));
}

void drawUp(QPainter& p, const Ink& ink) {
    drawFolder(p, ink, QRectF(2, 10, 28, 19));
    drawArrow(p, ink, QPointF(16, 27), QPointF(16, 3), QColor(40, 150, 60), 6);
}

void drawSendRight(QPainter& p, const Ink& ink) {
    drawArrow(p, ink, QPointF(2, 16), QPointF(30, 16), QColor(230, 120, 30), 9);
}

void drawReceiveLeft(QPainter& p, const Ink& ink) {
    drawArrow(p, ink, QPointF(30, 16), QPointF(2, 16), QColor(40, 120, 220), 9);
}

void draw(Image image, QPainter& p, const Ink& ink) {
    switch (image) {
    case Image::Folder:
        drawFolder(p, ink);
        break;
    case Image::TextFile:
        drawTextFile(p, ink);
        break;
    case Image::OtherFile:
        drawOtherFile(p, ink);
        break;
    case Image::Connect:
        drawConnect(p, ink);
        break;
    case Image::Disconnect:
        drawDisconnect(p, ink);
        break;
    case Image::NewFolder:
        drawNewFolder(p, ink);
        break;
    case Image::Delete:
        drawDelete(p, ink);
        break;
    case Image::Download:
        drawDownload(p, ink);
        break;
    case Image::Upload:
        drawUpload(p, ink);
        break;
    case Image::Settings:
        drawSettings(p, ink);
        break;
    case Image::Up:
        drawUp(p, ink);
        break;
    case Image::SendRight:
        drawSendRight(p, ink);
        break;
    case Image::ReceiveLeft:
        drawReceiveLeft(p, ink);
        break;
    }
}

class VectorIconEngine : public QIconEngine {
public:
    explicit VectorIconEngine(Image image) : image_(image) {}

    void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode, QIcon::State) override {
        const qreal side = qMin(rect.width(), rect.height());
        if (side <= 0) {
            return;
        }
        painter->save();
        painter->setRenderHint(QPainter::Antialiasing, true);
        painter->translate(rect.x() + (rect.width() - side) / 2.0,
                           rect.y() + (rect.height() - side) / 2.0);
        painter->scale(side / 32.0, side / 32.0);
        draw(image_, *painter, Ink{mode == QIcon::Disabled});
        painter->restore();
    }

    QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State state) override {
        QPixmap pm(size);
        pm.fill(Qt::transparent);
        QPainter painter(&pm);
        paint(&painter, QRect(QPoint(0, 0), size), mode, state);
        return pm;
    }

    QSize actualSize(const QSize& size, QIcon::Mode, QIcon::State) override { return size; }

    QIconEngine* clone() const override { return new VectorIconEngine(image_); }

private:
    Image image_;
};

} // namespace

QIcon icon(Image image) {
    return QIcon(new VectorIconEngine(image));
}

QIcon appIcon() {
    // The pictures installed for the desktop's menu (data/icons), built into the program.
    QIcon result;
    for (int side : {16, 22, 24, 32, 48, 64, 128, 256}) {
        result.addFile(QStringLiteral(":/icons/%1x%1/apps/org.oxlip.Oxlip.png").arg(side),
                       QSize(side, side));
    }
    return result;
}

QIcon paneIcon(int iconIndex) {
    static const QIcon folder = icon(Image::Folder);
    static const QIcon text = icon(Image::TextFile);
    static const QIcon other = icon(Image::OtherFile);
    switch (iconIndex) {
    case 1:
        return folder;
    case 2:
        return text;
    case 3:
        return other;
    default:
        return {};
    }
}

} // namespace oxlip::images
