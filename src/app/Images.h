#pragma once
// The window's own pictures, drawn as vectors so that they are sharp at every scale. Each
// icon draws its normal look in QIcon::Normal and a greyed look in QIcon::Disabled.

#include <QIcon>

namespace oxlip::images {

enum class Image {
    Folder,      // pane image 1
    TextFile,    // pane image 2: a file moved in ASCII mode
    OtherFile,   // pane image 3
    Connect,     // toolbar
    Disconnect,  // toolbar
    NewFolder,   // toolbar
    Delete,      // toolbar
    Download,    // toolbar
    Upload,      // toolbar
    Settings,    // toolbar
    Up,          // the panes' up buttons
    SendRight,   // transfer button: upload (local to host)
    ReceiveLeft, // transfer button: download (host to local)
};

QIcon icon(Image image);

// The application's icon, as the desktop shows it in its menu.
QIcon appIcon();

// Pane image by icon index (1 folder, 2 text file, 3 other file); a null icon otherwise.
QIcon paneIcon(int iconIndex);

} // namespace oxlip::images
