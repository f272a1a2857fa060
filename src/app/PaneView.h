#pragma once
// One file pane: a model of directory entries shown through four views (large icons, small
// icons, list, details). The list views and the details view share the model and the
// selection, so switching views keeps both.

#include <QStackedWidget>
#include <QStandardItem>
#include <QUrl>

#include <functional>
#include <vector>

class QListView;
class QMimeData;
class QTreeView;
class QStandardItemModel;
class QStyledItemDelegate;
class QAbstractItemView;
class QItemSelectionModel;

namespace oxlip {

enum PaneRole {
    IconIndexRole = Qt::UserRole + 1, // 1 folder, 2 ASCII file, 3 other file (name column)
    SortRole = Qt::UserRole + 2,      // the value a column sorts by
    AddedRole = Qt::UserRole + 3,     // when the row was added (name column), see clearItems()
};

// A cell that sorts by its sort value: numbers by value, texts without regard to case first.
class PaneItem : public QStandardItem {
public:
    static constexpr int ItemType = QStandardItem::UserType + 1;

    PaneItem(const QString& text, const QVariant& sortValue);
    bool operator<(const QStandardItem& other) const override;
    QStandardItem* clone() const override;
    void setData(const QVariant& value, int role) override;
    int type() const override { return ItemType; }

private:
    // The sort value kept unwrapped, so sorting a big folder compares without copying.
    void keepSortKey(const QVariant& value);
    bool numeric_ = false;
    qlonglong number_ = 0;
    QString text_;
};

class PaneView : public QStackedWidget {
    Q_OBJECT
public:
    enum ViewMode { LargeIcons = 0, SmallIcons = 1, List = 2, Details = 3 };

    PaneView(const QStringList& columnCaptions, const QList<int>& columnWidths, QWidget* parent);
    ~PaneView() override;

    QStandardItemModel* model() const { return model_; }
    QListView* listView() const { return list_; }
    QTreeView* detailsView() const { return details_; }
    QAbstractItemView* currentView() const;
    QItemSelectionModel* selection() const;

    void setViewMode(int mode);
    int viewMode() const { return mode_; }
    // The size of every item in the icon and list views: large enough for the whole of the
    // longest name (wrapped under a large icon, on one line beside a small one).
    QSize listItemSize() const { return listItemSize_; }

    // Items, by row from 0 in the shown order.
    int count() const;
    QString itemText(int row) const;
    QString cellText(int row, int column) const;
    int iconIndex(int row) const;
    bool isSelected(int row) const;
    // The item the user works on: the current item when it is selected, else the first
    // selected one; -1 without a selection.
    int selectedRow() const;
    void selectRow(int row, bool add = false);
    void clearItems();
    // Adds a row of cells (name first); between beginFill() and endFill() rows are gathered
    // and go into the model sorted, in one go, and the views are told once.
    void addRow(const QList<QStandardItem*>& row);
    void beginFill();
    void endFill();

    // The sort key (a column from 0) and order; resort() applies them.
    int sortKey() const { return sortKey_; }
    Qt::SortOrder sortOrder() const { return sortOrder_; }
    void setSort(int column, Qt::SortOrder order);
    void resort();

    // In-place rename: starts the editor on the row's name. The decider gets the old and the
    // new text and returns the text the item keeps.
    using RenameDecider =
        std::function<QString(int row, const QString& oldText, const QString& newText)>;
    void setRenameDecider(RenameDecider decider) { renameDecider_ = std::move(decider); }
    const RenameDecider& renameDecider() const { return renameDecider_; }
    bool startRename(int row);
    bool isEditing() const;
    void setEditorOpen(bool open) { editorOpen_ = open; }

    // What a drag of this pane's rows carries to tell it from other drags: the process and the
    // pane. dragMarkerOf() reads it from dragged data ("" for data from elsewhere).
    QByteArray dragMarker() const;
    static QByteArray dragMarkerOf(const QMimeData* data);

    // Drops are accepted when this returns true for the dragged data.
    void setDropFilter(std::function<bool(const QMimeData* data)> filter) {
        dropFilter_ = std::move(filter);
    }

signals:
    void focusReceived();
    void keyPressed(int key, Qt::KeyboardModifiers modifiers);
    void rightButtonReleased(const QPoint& globalPos);
    void itemDoubleClicked();
    void headerClicked(int column);
    // After an accepted drop, once the drag has ended: its marker and its URLs.
    void dropped(const QByteArray& marker, const QList<QUrl>& urls);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void watch(QAbstractItemView* view);
    // Sizes the icon and list views' items to the names shown (soon, once per burst of changes).
    void fitNamesSoon();
    void fitNames();
    void appendToModel(const QList<QStandardItem*>& row);

    QStandardItemModel* model_ = nullptr;
    bool filling_ = false;
    std::vector<QList<QStandardItem*>> pending_; // rows gathered by a fill
    qlonglong added_ = 0;                        // rows added so far
    bool resorted_ = false;                      // the model sorted its rows since the fill
    QListView* list_ = nullptr;
    QTreeView* details_ = nullptr;
    QStyledItemDelegate* delegate_ = nullptr;
    int mode_ = Details;
    QSize listItemSize_;
    bool fitPending_ = false;
    bool editorOpen_ = false;
    int sortKey_ = 0;
    Qt::SortOrder sortOrder_ = Qt::AscendingOrder;
    RenameDecider renameDecider_;
    std::function<bool(const QMimeData*)> dropFilter_;
};

} // namespace oxlip
