#pragma once
// The modal secondary windows of the main window.

#include "settings/Settings.h"

#include <QDialog>
#include <QIcon>
#include <QString>
#include <functional>
#include <string>
#include <vector>

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QRadioButton;
class QSpinBox;

namespace oxlip {

class Session;

class FolderList;

// Connection profiles: works on settings.profile and User.ini.
class Frm_User : public QDialog {
    Q_OBJECT
public:
    explicit Frm_User(Settings& settings, QWidget* parent = nullptr);

    // The controls, public so that the window's tests can drive them.
    QGroupBox* nameFrame = nullptr;
    QGroupBox* connectionFrame = nullptr;
    QGroupBox* profileListFrame = nullptr;
    // The boxes of the profile, in their form's order (object names "txt_0" to "txt_5").
    enum Field { ProfileName, Server, User, Password, HostFolder, LocalFolder, FieldCount };
    QLineEdit* fields[FieldCount] = {};
    QLabel* serverCaption = nullptr;
    QLabel* userCaption = nullptr;
    QLabel* passwordCaption = nullptr;
    QLabel* hostFolderCaption = nullptr;
    QLabel* localFolderCaption = nullptr;
    QPushButton* browseButton = nullptr;
    QListWidget* List = nullptr;
    QPushButton* Btn_Set[2] = {};
    QPushButton* Btn[3] = {};
    // The connection options.
    QGroupBox* optionsFrame = nullptr;
    QLabel* optionCaptions[5] = {}; // 暗号化, ポート, 接続モード, 文字コード, キープアライブ (秒)
    QComboBox* cmb_tls = nullptr;   // EncryptionMode order
    QLineEdit* txt_port = nullptr;  // empty: the default for the encryption
    QRadioButton* opt_mode[2] = {}; // パッシブ, アクティブ
    QComboBox* cmb_code = nullptr;  // NameEncodingMode order
    QLineEdit* txt_keepalive = nullptr;

public slots:
    void List_Click();
    void Btn_Click(int index);
    void Btn_Set_Click(int index);
    void Command1_Click();

private:
    void FillSettingList();
    void ShowProfile();
    void CreateOptionControls();
    void ShowOptions(const ConnectionProfile& profile);
    void ClearConnectionBoxes(); // server, user and password empty, host folder "/", options
                                 // at their defaults
    bool CheckOptionsStorable();
    bool CheckBoxesStorable();
    void StoreAndClose();

    Settings& settings_;
};

// Transfer details: the ASCII extension list, list caching and the connections of a folder
// transfer.
class Frm_Ftp : public QDialog {
    Q_OBJECT
public:
    explicit Frm_Ftp(Settings& settings, QWidget* parent = nullptr);

    QGroupBox* extensionFrame = nullptr;
    QGroupBox* listFrame = nullptr;
    QLineEdit* extensionBox = nullptr;
    QPushButton* Btn[3] = {};
    QListWidget* List = nullptr;
    QLabel* hint = nullptr;
    QCheckBox* chk_list = nullptr;
    QGroupBox* parallelFrame = nullptr;
    QSpinBox* Spn_Parallel = nullptr; // 1 to kMaxParallel, at once in the settings
    QPushButton* Btn_Close = nullptr;

public slots:
    void Btn_Click(int index);
    void Btn_Close_Click();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void AddExtension();
    void RemoveExtension();
    void ResetExtensions();
    void FillList();

    Settings& settings_;
};

// Permissions: set strFilename and strPms before exec; afterwards an empty strFilename
// means Cancel, otherwise strPms holds the three digits and a blank.
class Frm_Pms : public QDialog {
    Q_OBJECT
public:
    Frm_Pms(Session* session, const QString& filename, const QString& pms,
            QWidget* parent = nullptr);
    QString strFilename;
    QString strPms;

    // The command line sent by OK (for the digits shown now), and the way it is sent:
    // SendFtpCommand on the session unless a test puts a recorder in its place; true when
    // the server accepted it.
    QString CommandText() const;
    std::function<bool(const std::string& command)> sendCommand;

    QLabel* nameCaption = nullptr;
    QLineEdit* txt_name = nullptr;
    QGroupBox* ownerFrame = nullptr;
    QGroupBox* groupFrame = nullptr;
    QGroupBox* othersFrame = nullptr;
    QLabel* ownerDigit = nullptr;
    QLabel* groupDigit = nullptr;
    QLabel* othersDigit = nullptr;
    QCheckBox* ownerBoxes[3] = {};
    QCheckBox* groupBoxes[3] = {};
    QCheckBox* othersBoxes[3] = {};
    QPushButton* cmd_ok = nullptr;
    QPushButton* cmd_cancel = nullptr;

public slots:
    void cmd_ok_Click();
    void cmd_cancel_Click();

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    QString Digits() const;
};

// Local folder chooser: after exec, SelectedFolder is the chosen folder or empty.
class Frm_Dir : public QDialog {
    Q_OBJECT
public:
    explicit Frm_Dir(QWidget* parent = nullptr);
    ~Frm_Dir() override;
    QString SelectedFolder;

    QComboBox* drvList = nullptr;
    FolderList* dirList = nullptr;
    QPushButton* Btn[2] = {};

    // Replaces the mount points offered by the drive list (tests use folders of their own).
    void SetMountPoints(const std::vector<std::string>& mounts);

public slots:
    void drvList_Change();
    void Btn_Click(int index);

private:
    void SyncDriveToFolder();

    std::vector<std::string> mounts_;
};

// About box.
class Frm_Ver : public QDialog {
    Q_OBJECT
public:
    explicit Frm_Ver(const QIcon& icon, QWidget* parent = nullptr);

    // The addresses the two link labels open.
    static QString WebAddress();
    static QString MailAddress();

    QLabel* iconLabel = nullptr;
    QLabel* productLabel = nullptr;
    QLabel* versionLabel = nullptr;
    QLabel* creditLabel = nullptr;
    QLabel* webLink = nullptr;
    QLabel* mailLink = nullptr;
    QPushButton* okButton = nullptr;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void SetLinkLook(QLabel* label, bool highlighted);
    void HighlightOnly(QLabel* label);
};

} // namespace oxlip
