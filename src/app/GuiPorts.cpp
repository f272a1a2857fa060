#include "app/GuiPorts.h"

#include <QCoreApplication>

namespace oxlip {

StatusListBox::StatusListBox(QWidget* parent) : QListWidget(parent) {
    setSelectionMode(QAbstractItemView::SingleSelection);
    setUniformItemSizes(true);
}

void StatusListBox::append(const std::string& line) {
    appendLine(QString::fromStdString(line));
}

void StatusListBox::skipped(SkippedEntry why, const std::string& path) {
    const QString text = why == SkippedEntry::UnsafeName
                             ? QStringLiteral("×名前が安全でないため転送しませんでした・・・・")
                         : why == SkippedEntry::FailedLink
                             ? QStringLiteral("×リンクを転送できませんでした・・・・")
                             : QStringLiteral("フォルダへのリンクは転送しません・・・・");
    appendLine(text + QString::fromStdString(path));
}

void StatusListBox::appendLine(const QString& line) {
    addItem(line);
    if (count() > 4) {
        scrollToBottom();
    }
}

QStringList StatusListBox::lines() const {
    QStringList out;
    out.reserve(count());
    for (int i = 0; i < count(); ++i) {
        out << item(i)->text();
    }
    return out;
}

void QtEventPump::pump() {
    if (depth_ > 0) {
        return;
    }
    ++depth_;
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    --depth_;
}

void ProgressProxy::setItemText(const std::string& text) {
    forward([&](ProgressView& view) { view.setItemText(text); });
}

void ProgressProxy::setModeText(const std::string& text) {
    forward([&](ProgressView& view) { view.setModeText(text); });
}

void ProgressProxy::clearBar() {
    forward([](ProgressView& view) { view.clearBar(); });
}

void ProgressProxy::setBar(int64_t done, int64_t expected) {
    forward([&](ProgressView& view) { view.setBar(done, expected); });
}

void ProgressProxy::setCountText(const std::string& text) {
    forward([&](ProgressView& view) { view.setCountText(text); });
}

} // namespace oxlip
