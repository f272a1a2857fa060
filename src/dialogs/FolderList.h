#pragma once
// A folder list for choosing a local folder: the chain of folders from "/" down to the
// current path, with the subfolders of the current path below it. A click highlights an
// entry; a double click or Enter (or applyHighlighted) makes it the current path.

#include <QString>
#include <QTreeWidget>

namespace oxlip {

class FolderList : public QTreeWidget {
    Q_OBJECT
public:
    explicit FolderList(QWidget* parent = nullptr);

    // The current path: absolute, "/" separated, no final "/" except for "/" itself.
    QString path() const { return path_; }
    // Makes the folder current and lists it. False, with nothing changed, when it is not a
    // folder that can be read.
    bool setPath(const QString& folder);

    // The full path of the highlighted entry (the current path when none is highlighted).
    QString highlightedPath() const;
    // Highlights the entry with this full path; false when the list does not show it.
    bool highlightPath(const QString& folder);
    // Makes the highlighted entry the current path.
    bool applyHighlighted();

signals:
    void pathChanged(const QString& path);

protected:
    void focusOutEvent(QFocusEvent* event) override;

private:
    QString path_;
};

} // namespace oxlip
