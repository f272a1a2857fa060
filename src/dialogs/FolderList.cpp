#include "dialogs/FolderList.h"

#include <QDir>
#include <QFileInfo>
#include <QFocusEvent>
#include <QHeaderView>
#include <QStyle>

namespace oxlip {

namespace {
constexpr int kPathRole = Qt::UserRole;
} // namespace

FolderList::FolderList(QWidget* parent) : QTreeWidget(parent) {
    setHeaderHidden(true);
    setColumnCount(1);
    setRootIsDecorated(false);
    setItemsExpandable(false);
    setIndentation(10);
    // The chain is always open: no expand marks.
    setStyleSheet(QStringLiteral("QTreeView::branch { image: none; border-image: none; }"));
    setSelectionMode(QAbstractItemView::SingleSelection);
    setUniformRowHeights(true);
    connect(this, &QTreeWidget::itemActivated, this,
            [this](QTreeWidgetItem* item) { setPath(item->data(0, kPathRole).toString()); });
}

bool FolderList::setPath(const QString& folder) {
    const QFileInfo info(folder);
    if (folder.isEmpty() || !info.isDir() || !info.isReadable()) {
        return false;
    }
    const QString clean = QDir::cleanPath(info.absoluteFilePath());
    QDir dir(clean);
    if (!dir.isReadable()) {
        return false;
    }
    const QStringList children =
        dir.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name | QDir::IgnoreCase);

    clear();
    const QIcon openIcon = style()->standardIcon(QStyle::SP_DirOpenIcon);
    const QIcon closedIcon = style()->standardIcon(QStyle::SP_DirIcon);
    auto* node = new QTreeWidgetItem(this, QStringList{QStringLiteral("/")});
    node->setData(0, kPathRole, QStringLiteral("/"));
    node->setIcon(0, openIcon);
    QString built;
    for (const QString& part : clean.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
        built += QLatin1Char('/') + part;
        node = new QTreeWidgetItem(node, QStringList{part});
        node->setData(0, kPathRole, built);
        node->setIcon(0, openIcon);
    }
    const QString prefix = clean == QLatin1String("/") ? QString() : clean;
    for (const QString& child : children) {
        auto* item = new QTreeWidgetItem(node, QStringList{child});
        item->setData(0, kPathRole, prefix + QLatin1Char('/') + child);
        item->setIcon(0, closedIcon);
    }
    expandAll();
    setCurrentItem(node);
    scrollToItem(node);
    const bool changed = path_ != clean;
    path_ = clean;
    if (changed) {
        emit pathChanged(path_);
    }
    return true;
}

QString FolderList::highlightedPath() const {
    const QTreeWidgetItem* item = currentItem();
    return item ? item->data(0, kPathRole).toString() : path_;
}

bool FolderList::highlightPath(const QString& folder) {
    for (QTreeWidgetItemIterator it(this); *it; ++it) {
        if ((*it)->data(0, kPathRole).toString() == folder) {
            setCurrentItem(*it);
            return true;
        }
    }
    return false;
}

bool FolderList::applyHighlighted() {
    const QString target = highlightedPath();
    return target == path_ || setPath(target);
}

void FolderList::focusOutEvent(QFocusEvent* event) {
    // Moving to another control of the window applies the highlighted entry; the window
    // losing activation (another window, or this one closing) does not.
    if (event->reason() != Qt::ActiveWindowFocusReason && event->reason() != Qt::PopupFocusReason) {
        applyHighlighted();
    }
    QTreeWidget::focusOutEvent(event);
}

} // namespace oxlip
