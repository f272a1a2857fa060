#pragma once
// The modal secondary windows of the main window.

#include "settings/Settings.h"

#include <QDialog>
#include <QIcon>
#include <QString>

namespace oxlip {

namespace ftp {
class FtpClient;
}

// Connection profiles: works on settings.profile and User.ini.
class Frm_User : public QDialog {
    Q_OBJECT
public:
    explicit Frm_User(Settings& settings, QWidget* parent = nullptr);
};

// Transfer details: the ASCII extension list and list caching.
class Frm_Ftp : public QDialog {
    Q_OBJECT
public:
    explicit Frm_Ftp(Settings& settings, QWidget* parent = nullptr);
};

// Permissions: set strFilename and strPms before exec; afterwards an empty strFilename
// means Cancel, otherwise strPms holds the three digits and a blank.
class Frm_Pms : public QDialog {
    Q_OBJECT
public:
    Frm_Pms(ftp::FtpClient* hFtp, const QString& filename, const QString& pms,
            QWidget* parent = nullptr);
    QString strFilename;
    QString strPms;
};

// Local folder chooser: after exec, SelectedFolder is the chosen folder or empty.
class Frm_Dir : public QDialog {
    Q_OBJECT
public:
    explicit Frm_Dir(QWidget* parent = nullptr);
    QString SelectedFolder;
};

// About box.
class Frm_Ver : public QDialog {
    Q_OBJECT
public:
    explicit Frm_Ver(const QIcon& icon, QWidget* parent = nullptr);
};

} // namespace oxlip
