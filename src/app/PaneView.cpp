#include "app/PaneView.h"

#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QDragEnterEvent>
#include <QFontMetrics>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLineEdit>
#include <QListView>
#include <QMimeData>
#include <QMouseEvent>
#include <QPersistentModelIndex>
#include <QPointer>
#include <QStandardItemModel>
#include <QStyledItemDelegate>
#include <QTimer>
#include <QTreeView>

#include <algorithm>
#include <array>
#include <functional>
#include <iterator>

namespace oxlip {

PaneItem::PaneItem(const QString& text, const QVariant& sortValue) : QStandardItem(text) {
    setData(sortValue, SortRole);
    setEditable(false);
}

void PaneItem::setData(const QVariant& value, int role) {
    if (role == SortRole) {
        keepSortKey(value);
    }
    QStandardItem::setData(value, role);
}

void PaneItem::keepSortKey(const QVariant& value) {
    numeric_ = value.typeId() == QMetaType::LongLong;
    number_ = numeric_ ? value.toLongLong() : 0;
    text_ = numeric_ ? QString() : value.toString();
}

namespace {

bool TextLess(const QString& a, const QString& b) {
    const int folded = QString::compare(a, b, Qt::CaseInsensitive);
    if (folded != 0) {
        return folded < 0;
    }
    return QString::compare(a, b, Qt::CaseSensitive) < 0;
}

} // namespace

bool PaneItem::operator<(const QStandardItem& other) const {
    if (other.type() != ItemType) {
        return QStandardItem::operator<(other);
    }
    const QStandardItemModel* owner = model();
    if (owner && owner->sortRole() == AddedRole) {
        return data(AddedRole).toLongLong() < other.data(AddedRole).toLongLong();
    }
    const auto& right = static_cast<const PaneItem&>(other);
    if (!numeric_ && !right.numeric_) {
        return TextLess(text_, right.text_);
    }
    if (numeric_ && right.numeric_) {
        return number_ < right.number_;
    }
    // A number against a text compares as text.
    return TextLess(numeric_ ? QString::number(number_) : text_,
                    right.numeric_ ? QString::number(right.number_) : right.text_);
}

QStandardItem* PaneItem::clone() const {
    return new PaneItem(*this);
}

namespace {

const QString kDragMarkerFormat = QStringLiteral("application/x-oxlip-pane");

// The pane's model; it can tell its views that everything changed after a fill, and marks the
// data of a drag of its rows.
class PaneModel : public QStandardItemModel {
public:
    PaneModel(int rows, int columns, QObject* parent)
        : QStandardItemModel(rows, columns, parent),
          marker_(QByteArray::number(QCoreApplication::applicationPid()) + ':' +
                  QByteArray::number(quintptr(this), 16)) {}
    void announceReset() {
        beginResetModel();
        endResetModel();
    }
    const QByteArray& marker() const { return marker_; }
    QMimeData* mimeData(const QModelIndexList& indexes) const override {
        QMimeData* data = QStandardItemModel::mimeData(indexes);
        if (data) {
            data->setData(kDragMarkerFormat, marker_);
        }
        return data;
    }

private:
    QByteArray marker_;
};

// Commits an in-place rename through the pane's decider once the editor has closed, so that
// a rename on the host (which pumps events) never runs inside the editor's own teardown.
class RenameDelegate : public QStyledItemDelegate {
public:
    explicit RenameDelegate(PaneView* pane) : QStyledItemDelegate(pane), pane_(pane) {}

    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                          const QModelIndex& index) const override {
        QWidget* editor = QStyledItemDelegate::createEditor(parent, option, index);
        if (editor) {
            pane_->setEditorOpen(true);
        }
        return editor;
    }

    void destroyEditor(QWidget* editor, const QModelIndex& index) const override {
        pane_->setEditorOpen(false);
        QStyledItemDelegate::destroyEditor(editor, index);
    }

    // In the icon and list views every item takes the size fitted to the longest name.
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        if (option.widget == pane_->listView() && pane_->listItemSize().isValid()) {
            return pane_->listItemSize();
        }
        return QStyledItemDelegate::sizeHint(option, index);
    }

    void setModelData(QWidget* editor, QAbstractItemModel* model,
                      const QModelIndex& index) const override {
        auto* lineEdit = qobject_cast<QLineEdit*>(editor);
        if (!lineEdit || index.column() != 0) {
            return;
        }
        const QString oldText = index.data(Qt::DisplayRole).toString();
        const QString newText = lineEdit->text();
        if (newText == oldText) {
            return;
        }
        // Shown at once; the decider may put the old name back.
        model->setData(index, newText, Qt::DisplayRole);
        model->setData(index, newText, SortRole);
        const QPersistentModelIndex item(index);
        QPointer<PaneView> pane(pane_);
        QTimer::singleShot(0, pane_, [pane, item, oldText, newText]() {
            if (!pane || !item.isValid() || !pane->renameDecider()) {
                return;
            }
            const QString keep = pane->renameDecider()(item.row(), oldText, newText);
            if (item.isValid() && keep != newText) {
                auto* model = const_cast<QAbstractItemModel*>(item.model());
                model->setData(item, keep, Qt::DisplayRole);
                model->setData(item, keep, SortRole);
            }
        });
    }

private:
    PaneView* pane_;
};

// The list view of a pane; it lends the options its items are drawn with.
class PaneListView : public QListView {
public:
    using QListView::QListView;
    QStyleOptionViewItem itemOption() const {
        QStyleOptionViewItem option;
        initViewItemOption(&option);
        return option;
    }
};

// The tree view of a pane's details; it lends the options its items are drawn with.
class PaneTreeView : public QTreeView {
public:
    using QTreeView::QTreeView;
    QStyleOptionViewItem itemOption() const {
        QStyleOptionViewItem option;
        initViewItemOption(&option);
        return option;
    }
};

// Room beside a name for the focus frame.
constexpr int kFocusRoom = 6;
// Width of the large-icon view's items; longer names wrap onto more lines.
constexpr int kLargeIconItemWidth = 84;
constexpr int kLargeIconItemHeight = 64;
constexpr int kSmallIconItemWidth = 132;
// The names measured in full: those that are widest on one line.
constexpr size_t kNamesMeasured = 64;

void setupItemView(QAbstractItemView* view) {
    view->setSelectionMode(QAbstractItemView::ExtendedSelection);
    view->setSelectionBehavior(QAbstractItemView::SelectRows);
    view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    view->setDragEnabled(true);
    view->setDragDropMode(QAbstractItemView::DragOnly);
    view->setDefaultDropAction(Qt::CopyAction);
    view->setAcceptDrops(true);
    view->viewport()->setAcceptDrops(true);
    view->setContextMenuPolicy(Qt::PreventContextMenu);
}

} // namespace

PaneView::PaneView(const QStringList& columnCaptions, const QList<int>& columnWidths,
                   QWidget* parent)
    : QStackedWidget(parent) {
    model_ = new PaneModel(0, int(columnCaptions.size()), this);
    model_->setHorizontalHeaderLabels(columnCaptions);
    model_->setSortRole(SortRole);

    auto* delegate = new RenameDelegate(this);
    delegate_ = delegate;

    list_ = new PaneListView(this);
    list_->setModel(model_);
    list_->setItemDelegate(delegate);
    setupItemView(list_);
    list_->setMovement(QListView::Static);
    list_->setResizeMode(QListView::Adjust);
    list_->setUniformItemSizes(true);

    details_ = new PaneTreeView(this);
    details_->setModel(model_);
    details_->setSelectionModel(list_->selectionModel());
    details_->setItemDelegate(delegate);
    setupItemView(details_);
    details_->setRootIsDecorated(false);
    details_->setItemsExpandable(false);
    details_->setUniformRowHeights(true);
    details_->setAllColumnsShowFocus(true);
    details_->setIconSize(QSize(16, 16));
    details_->setSortingEnabled(false);
    QHeaderView* header = details_->header();
    header->setSectionsClickable(true);
    header->setSectionsMovable(false);
    header->setStretchLastSection(false);
    header->setSortIndicatorShown(true);
    header->setSortIndicator(sortKey_, sortOrder_);
    header->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    // The designed widths, widened where this system's font needs more room for the usual
    // texts of a column (a date, "<フォルダ>", a caption).
    const QString samples[] = {QString(), QStringLiteral("99,999KB"), QStringLiteral("<フォルダ>"),
                               QStringLiteral("0000/00/00 00:00:00"), QStringLiteral("755")};
    const QFontMetrics metrics(details_->font());
    for (int i = 0; i < columnWidths.size() && i < columnCaptions.size(); ++i) {
        const int sample = i < int(std::size(samples)) ? metrics.horizontalAdvance(samples[i]) : 0;
        const int caption = metrics.horizontalAdvance(columnCaptions[i]) + 24;
        header->resizeSection(i, std::max({columnWidths[i], sample + 14, caption}));
    }
    // The size column is right-aligned, its caption too.
    model_->setHeaderData(1, Qt::Horizontal, int(Qt::AlignRight | Qt::AlignVCenter),
                          Qt::TextAlignmentRole);
    connect(header, &QHeaderView::sectionClicked, this, &PaneView::headerClicked);

    addWidget(list_);
    addWidget(details_);
    watch(list_);
    watch(details_);
    setViewMode(Details);
    for (auto signal : {&QAbstractItemModel::rowsInserted, &QAbstractItemModel::rowsRemoved}) {
        connect(model_, signal, this, &PaneView::fitNamesSoon);
    }
    connect(model_, &QAbstractItemModel::modelReset, this, &PaneView::fitNamesSoon);
    connect(model_, &QAbstractItemModel::dataChanged, this, &PaneView::fitNamesSoon);
}

void PaneView::fitNamesSoon() {
    if (fitPending_) {
        return;
    }
    fitPending_ = true;
    QTimer::singleShot(0, this, [this]() {
        fitPending_ = false;
        fitNames();
    });
}

void PaneView::fitNames() {
    // The widest names on one line decide; each is measured as the view draws it (under a
    // large icon: wrapped to the item's width). Measuring every name in full takes long in a
    // big folder: they are found by their widths summed glyph by glyph.
    const QFontMetrics metrics(currentView()->font());
    std::array<int, 256> latin{};
    for (size_t c = 0; c < latin.size(); ++c) {
        latin[c] = metrics.horizontalAdvance(QChar(char16_t(c)));
    }
    const int wide = metrics.horizontalAdvance(QChar(char16_t(0x3042)));
    std::vector<std::pair<int, int>> widths; // (width, row)
    widths.reserve(size_t(count()));
    for (int row = 0; row < count(); ++row) {
        int width = 0;
        for (const QChar c : model_->item(row, 0)->text()) {
            width += c.unicode() < latin.size() ? latin[c.unicode()] : wide;
        }
        widths.emplace_back(width, row);
    }
    const size_t measured = std::min(widths.size(), kNamesMeasured);
    std::partial_sort(widths.begin(), widths.begin() + std::ptrdiff_t(measured), widths.end(),
                      std::greater<>());
    auto widest = [&](QStyleOptionViewItem option, QSize size) {
        for (size_t i = 0; i < measured; ++i) {
            const QModelIndex index = model_->index(widths[i].second, 0);
            size = size.expandedTo(delegate_->QStyledItemDelegate::sizeHint(option, index));
        }
        return size;
    };
    if (mode_ == Details) {
        // The name column widens to the longest name (never narrows what the user chose).
        QHeaderView* header = details_->header();
        const int needed = widest(static_cast<PaneTreeView*>(details_)->itemOption(), {}).width();
        if (header->sectionSize(0) < needed + kFocusRoom) {
            header->resizeSection(0, needed + kFocusRoom);
        }
        return;
    }
    const bool large = mode_ == LargeIcons;
    QStyleOptionViewItem option = static_cast<PaneListView*>(list_)->itemOption();
    option.rect = QRect(0, 0, large ? kLargeIconItemWidth : 1 << 20, 1 << 20);
    QSize size = large ? QSize(kLargeIconItemWidth, kLargeIconItemHeight)
                       : QSize(mode_ == SmallIcons ? kSmallIconItemWidth : 0, 20);
    size = widest(option, size) + QSize(large ? 0 : kFocusRoom, 0);
    list_->setGridSize(size);
    listItemSize_ = size;
    list_->doItemsLayout();
}

void PaneView::watch(QAbstractItemView* view) {
    view->installEventFilter(this);
    view->viewport()->installEventFilter(this);
    connect(view, &QAbstractItemView::doubleClicked, this, [this](const QModelIndex& index) {
        if (index.isValid()) {
            emit itemDoubleClicked();
        }
    });
}

QAbstractItemView* PaneView::currentView() const {
    return mode_ == Details ? static_cast<QAbstractItemView*>(details_)
                            : static_cast<QAbstractItemView*>(list_);
}

QItemSelectionModel* PaneView::selection() const {
    return list_->selectionModel();
}

void PaneView::setViewMode(int mode) {
    if (mode < LargeIcons || mode > Details) {
        return;
    }
    const bool hadFocus = currentView()->hasFocus();
    mode_ = mode;
    switch (mode) {
    case LargeIcons:
        list_->setViewMode(QListView::IconMode);
        list_->setIconSize(QSize(32, 32));
        list_->setWordWrap(true);
        list_->setFlow(QListView::LeftToRight);
        list_->setWrapping(true);
        break;
    case SmallIcons:
        list_->setViewMode(QListView::ListMode);
        list_->setIconSize(QSize(16, 16));
        list_->setWordWrap(false);
        list_->setFlow(QListView::LeftToRight);
        list_->setWrapping(true);
        break;
    case List:
        list_->setViewMode(QListView::ListMode);
        list_->setIconSize(QSize(16, 16));
        list_->setWordWrap(false);
        list_->setFlow(QListView::TopToBottom);
        list_->setWrapping(true);
        break;
    default:
        break;
    }
    // Icon mode turns on free movement; the panes keep their items in sorted places.
    list_->setMovement(QListView::Static);
    list_->setDragDropMode(QAbstractItemView::DragOnly);
    fitNames();
    setCurrentWidget(currentView());
    if (hadFocus) {
        currentView()->setFocus();
    }
}

QByteArray PaneView::dragMarker() const {
    return static_cast<const PaneModel*>(model_)->marker();
}

QByteArray PaneView::dragMarkerOf(const QMimeData* data) {
    return data ? data->data(kDragMarkerFormat) : QByteArray();
}

int PaneView::count() const {
    return model_->rowCount();
}

QString PaneView::itemText(int row) const {
    return cellText(row, 0);
}

QString PaneView::cellText(int row, int column) const {
    const QStandardItem* item = model_->item(row, column);
    return item ? item->text() : QString();
}

int PaneView::iconIndex(int row) const {
    const QStandardItem* item = model_->item(row, 0);
    return item ? item->data(IconIndexRole).toInt() : 0;
}

bool PaneView::isSelected(int row) const {
    return selection()->isRowSelected(row, QModelIndex());
}

int PaneView::selectedRow() const {
    const QModelIndex current = selection()->currentIndex();
    if (current.isValid() && isSelected(current.row())) {
        return current.row();
    }
    for (int row = 0; row < count(); ++row) {
        if (isSelected(row)) {
            return row;
        }
    }
    return -1;
}

void PaneView::selectRow(int row, bool add) {
    const QModelIndex index = model_->index(row, 0);
    if (!index.isValid()) {
        return;
    }
    auto flags = QItemSelectionModel::Rows | QItemSelectionModel::Select;
    if (!add) {
        flags |= QItemSelectionModel::Clear;
    }
    selection()->setCurrentIndex(index, flags);
}

PaneView::~PaneView() {
    clearItems();
}

// Each cell of the model remembers its last position and is looked for from there whenever it
// leaves the model. After the model has sorted its rows those positions are stale, and removing
// a big folder's cells one search each would take seconds (20 s for 50,000 rows). Put back in
// the order they were added, every cell is where it was last seen and the removal is quick.
void PaneView::clearItems() {
    for (const QList<QStandardItem*>& row : pending_) {
        qDeleteAll(row);
    }
    pending_.clear();
    if (model_->rowCount() == 0) {
        return;
    }
    const bool wasBlocked = model_->blockSignals(true);
    if (resorted_) {
        model_->setSortRole(AddedRole);
        model_->sort(0, Qt::AscendingOrder);
        model_->setSortRole(SortRole);
    }
    model_->removeRows(0, model_->rowCount());
    resorted_ = false;
    model_->blockSignals(wasBlocked);
    static_cast<PaneModel*>(model_)->announceReset();
}

void PaneView::addRow(const QList<QStandardItem*>& row) {
    if (row.isEmpty()) {
        return;
    }
    if (filling_) {
        pending_.push_back(row);
    } else {
        appendToModel(row);
    }
}

void PaneView::appendToModel(const QList<QStandardItem*>& row) {
    row.front()->setData(added_++, AddedRole);
    model_->appendRow(row);
}

void PaneView::beginFill() {
    filling_ = true;
}

void PaneView::endFill() {
    if (!filling_) {
        return;
    }
    filling_ = false;
    // The rows go in already sorted (the same stable order the model's sort gives), so no
    // cell moves once it is in the model.
    const int key = sortKey_;
    const bool descending = sortOrder_ == Qt::DescendingOrder;
    std::stable_sort(pending_.begin(), pending_.end(),
                     [key, descending](const auto& a, const auto& b) {
                         return descending ? *b.at(key) < *a.at(key) : *a.at(key) < *b.at(key);
                     });
    const bool wasBlocked = model_->blockSignals(true);
    for (const QList<QStandardItem*>& row : pending_) {
        appendToModel(row);
    }
    pending_.clear();
    model_->blockSignals(wasBlocked);
    static_cast<PaneModel*>(model_)->announceReset();
}

void PaneView::setSort(int column, Qt::SortOrder order) {
    sortKey_ = column;
    sortOrder_ = order;
    details_->header()->setSortIndicator(column, order);
    resort();
}

void PaneView::resort() {
    model_->sort(sortKey_, sortOrder_);
    resorted_ = true;
}

bool PaneView::startRename(int row) {
    const QModelIndex index = model_->index(row, 0);
    if (!index.isValid()) {
        return false;
    }
    QAbstractItemView* view = currentView();
    view->setFocus();
    view->setCurrentIndex(index);
    view->edit(index);
    return isEditing();
}

bool PaneView::isEditing() const {
    return editorOpen_;
}

bool PaneView::eventFilter(QObject* watched, QEvent* event) {
    switch (event->type()) {
    case QEvent::FocusIn:
        if (watched == list_ || watched == details_) {
            emit focusReceived();
        }
        break;
    case QEvent::KeyPress:
        if (watched == list_ || watched == details_) {
            auto* key = static_cast<QKeyEvent*>(event);
            // A held key acts once.
            if (!key->isAutoRepeat() && !isEditing()) {
                emit keyPressed(key->key(), key->modifiers());
            }
        }
        break;
    case QEvent::MouseButtonRelease: {
        auto* mouse = static_cast<QMouseEvent*>(event);
        if (mouse->button() == Qt::RightButton &&
            (watched == list_->viewport() || watched == details_->viewport())) {
            emit rightButtonReleased(mouse->globalPosition().toPoint());
            return true;
        }
        break;
    }
    case QEvent::DragEnter:
    case QEvent::DragMove: {
        if (watched == list_->viewport() || watched == details_->viewport()) {
            auto* drag = static_cast<QDropEvent*>(event);
            if (dropFilter_ && dropFilter_(drag->mimeData())) {
                drag->setDropAction(Qt::CopyAction);
                drag->accept();
            } else {
                drag->ignore();
            }
            return true;
        }
        break;
    }
    case QEvent::Drop: {
        if (watched == list_->viewport() || watched == details_->viewport()) {
            auto* drop = static_cast<QDropEvent*>(event);
            const QMimeData* data = drop->mimeData();
            if (dropFilter_ && dropFilter_(data)) {
                drop->setDropAction(Qt::CopyAction);
                drop->accept();
                // The drag's own loop is still running: start the command after it ends (the
                // data is gone by then).
                const QByteArray marker = dragMarkerOf(data);
                const QList<QUrl> urls = data->hasUrls() ? data->urls() : QList<QUrl>();
                QTimer::singleShot(0, this, [this, marker, urls]() { emit dropped(marker, urls); });
            } else {
                drop->ignore();
            }
            return true;
        }
        break;
    }
    default:
        break;
    }
    return QStackedWidget::eventFilter(watched, event);
}

} // namespace oxlip
