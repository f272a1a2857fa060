#pragma once
// The main window: two file panes (local and host), the toolbar, menus, connection control,
// the transfer and file commands and the status log.

#include "app/GuiPorts.h"
#include "app/KeepAliveTimer.h"
#include "app/Pane.h"
#include "app/ToolbarImages.h"
#include "dialogs/Modal.h"
#include "ftp/Session.h"
#include "localfs/DirEntry.h"
#include "settings/Settings.h"

#include <QMainWindow>
#include <QPointer>

#include <array>
#include <functional>
#include <memory>
#include <string>

class QAction;
class QComboBox;
class QLabel;
class QMenu;
class QPushButton;
class QToolButton;
class QUrl;

namespace oxlip {

class Frm_State;
class ProfileSecurity;

constexpr int kTwipsPerPixel = 15;
constexpr int kMinOuterWidthPx = int(kDefaultWindowWidthTwips) / kTwipsPerPixel;   // 708
constexpr int kMinOuterHeightPx = int(kDefaultWindowHeightTwips) / kTwipsPerPixel; // 386
inline const QString kUiFont = QStringLiteral("MS UI Gothic");
inline const QString kFixedFont = QStringLiteral("ＭＳ ゴシック");

class Frm_Main : public QMainWindow {
    Q_OBJECT
public:
    explicit Frm_Main(Settings& settings, QWidget* parent = nullptr);
    ~Frm_Main() override;

    // ---- State ----
    Settings& settings() { return settings_; }
    bool connected() const { return session_.connected(); }
    int ActivePane = kLocalPane;
    // True while a command works (a connect, a listing, a transfer...): no other command
    // that touches the connection or the panes' folders may start meanwhile.
    bool busy() const { return busy_ > 0; }
    const SessionPorts& ports() const { return ports_; }

    // ---- Pane operations ----
    bool ShowLocalFolder(const std::string& path);
    bool ShowHostFolder(const std::string& path);
    bool SetLocalPath(const std::string& path);
    bool SetHostPath(const std::string& path);
    bool AddPaneItem(int pane, const std::string& name, const DirEntry& entry);
    int FindPaneItem(int pane, const std::string& name) const; // position from 1, 0 = none
    bool IsAsciiFile(const std::string& name) const;
    void CapturePaneState();
    // The folder a pane shows: its path box's entry last chosen, never text typed into the box
    // and not confirmed with Enter ("" before a folder was shown).
    std::string ShownFolder(int pane) const;
    // Selects entry `index` of a path box and runs its selection behaviour.
    void SelectPathEntry(int pane, int index);

    // How a drive's root is tried before the local pane moves there (true: a folder that
    // answers). It runs on a helper thread; a drive that has not answered after `timeoutMs`
    // is reported and left alone, so a hung network mount never blocks the window.
    using DriveProbe = std::function<bool(const std::string& root)>;
    void setDriveProbe(DriveProbe probe, int timeoutMs);

    // ---- Connection control ----
    void Btn_Con_Click();
    void ShowConnectedState();
    void ShowDisconnectedState();
    void cmb_Click();
    void FillProfileList();
    void Btn_User_Click();
    void Btn_Ftp_Click();
    void m_Version_Click();

    // ---- Navigation handlers ----
    void Btn_Click(int pane);
    void Cmb_Dir_Click(int pane);
    void Cmb_Dir_Enter(int pane);
    void Drv_Change();
    void lv_GotFocus(int pane);
    void lv_ColumnClick(int pane, int column);
    void lv_DblClick(int pane);
    void lv_KeyDown(int pane, int key, Qt::KeyboardModifiers modifiers);
    void lv_MouseUp(int pane, const QPoint& globalPos);
    void PrepareEditMenu(int pane);
    void m_ReLoad_Click();
    void Cmb_Trs_Click();

    // ---- Transfer and file commands ----
    void Btn_Trs_Click(int index);
    // Uploads files dropped from another program (file URLs) into the host pane's folder.
    void UploadDroppedFiles(const QList<QUrl>& urls);
    void m_DelFile_Click();
    void m_MakeFolder_Click();
    void m_ChangeName_Click();
    void m_Permision_Click();
    // Decides an in-place rename in a pane; returns the name the item keeps.
    QString lv_AfterLabelEdit(int pane, int row, const QString& oldName, const QString& newName);

    // The progress window of the running command (created hidden when missing).
    Frm_State* stateWindow();
    void showStateWindow();
    void unloadStateWindow();

    // Lays the controls out for the client size (the resize rules).
    void Form_Resize();

    // What the window's tests reach (defined with them).
    class TestAccess;

protected:
    void showEvent(QShowEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    friend class TestAccess;
    // ---- Controls (each keeps its form name as its object name) ----
    QWidget* client = nullptr; // the client area below the menu bar
    QWidget* picToolbar = nullptr;
    QLabel* profileCaption = nullptr; // "Label1"
    QLabel* modeCaption = nullptr;    // "Label2"
    QComboBox* cmb = nullptr;
    QComboBox* Cmb_Trs = nullptr;
    QPushButton* Btn_Con = nullptr;
    QPushButton* Btn_User = nullptr;
    QPushButton* Btn_Ftp = nullptr;
    std::array<std::unique_ptr<Pane>, 2> panes_; // the local and the host side
    std::array<QToolButton*, 2> Btn_Trs{};
    StatusListBox* StatList = nullptr;

    std::unique_ptr<ImagePair> imgConnecttButton, imgCutButton, imgMakeButton, imgDelButton,
        imgDounButtonUp, imgUpButtonUp, imgSettingButtonUp;

    QMenu* m_File = nullptr;
    QAction *m_Connect = nullptr, *m_Disconnect = nullptr, *m_Close = nullptr;
    QMenu* m_View = nullptr;
    std::array<QAction*, 4> m_ListView{};
    QMenu* h_View = nullptr;
    std::array<QAction*, 4> h_ListView{};
    QMenu* m_Setting = nullptr;
    QAction *m_User = nullptr, *m_DetailSet = nullptr, *m_Version = nullptr;
    QMenu* m_Edit = nullptr;
    QAction *m_MakeFolder = nullptr, *m_Permision = nullptr, *m_ChangeName = nullptr,
            *m_DelFile = nullptr, *m_ReLoad = nullptr;

    Pane& pane(int side) const { return *panes_[side]; }
    PaneView* view(int side) const;

    class Placement;
    friend class Placement;
    friend class BusyGuard;

    void buildControls();
    void buildMenus();
    void buildToolbar();
    void connectSignals();
    void Form_Load();
    bool Form_Unload();
    // Runs `command` as a user's command: refused (with a beep) while another one works.
    bool runCommand(const std::function<void()>& command);
    void refuse();
    void endBusy();
    void applyMinimumSize();
    void keepOnScreen();
    std::string localStartPath() const;
    int clampedTransMode() const;
    // The transfer mode the mode list shows (read anew for every item).
    TransferMode transferMode() const;
    void updatePaneToolbar();
    void showConnectionState(bool open);
    // The open session's control connection was lost (421, reset, time-out).
    bool connectionLost() const;
    // Once per command: opens the session anew with the profile and goes back to the folder
    // the host pane shows. When that fails the window is disconnected, with the usual message.
    bool reconnect();
    // Runs a command; one that found the control connection lost runs once more on a new one,
    // and its questions then take the answers they got the first time without asking again.
    void runHeld(const std::function<void()>& command);
    // One step of a command that a dialog runs (it cannot run again without asking again): a
    // step that found the connection lost runs once more on a new one at once.
    bool heldStep(const std::function<bool()>& step);
    // A command's question (a message box): once per command, however often the command runs.
    ui::MsgResult ask(const QString& text, ui::MsgIcon icon, ui::MsgButtons buttons);
    bool paneUsable(int pane) const;
    struct TransferItem {
        std::string name;
        std::string sourceFolder; // ends in "/"
        bool folder = false;
    };
    // Moves the items into the folder of the other side's pane, logging each one.
    void transferItems(bool upload, const std::vector<TransferItem>& items);
    // A drop on a pane is taken when it is a drag of the other pane's rows (which transfers
    // that pane's selection) or, on the host pane, local files from another program.
    bool acceptsDrop(int pane, const QByteArray& marker, const QList<QUrl>& urls) const;
    void paneDropped(int pane, const QByteArray& marker, const QList<QUrl>& urls);
    void showPaneFolder(int pane);
    enum class ProbeResult { Folder, NotFolder, NoAnswer };
    ProbeResult probeDrive(const std::string& root);
    // After a transfer: the target pane's entry for the item, updated in place or added. An
    // item that failed and cannot be found in the target adds nothing.
    void RefreshPaneEntry(int pane, const std::string& name, const std::string& path, bool folder,
                          bool sent);

    Settings& settings_;
    QtEventPump pump_;
    WindowSink sink_;
    SessionPorts ports_;
    // The FTPS state of the connections to the profile: the session's login points into it.
    std::unique_ptr<ProfileSecurity> security_;
    Session session_;          // after what its ports and its login point to
    KeepAliveTimer keepAlive_; // NOOP on the idle session
    QPointer<Frm_State> state_;
    std::unique_ptr<Placement> placement_;
    std::vector<std::string> mounts_;
    DriveProbe driveProbe_;
    int driveProbeMs_ = 0;
    int busy_ = 0;
    bool closeRequested_ = false;
    bool closeConfirmed_ = false;
    bool unloaded_ = false;
    bool activeBeforeState_ = false;
    bool reconnected_ = false;                               // the running command has reconnected
    std::vector<std::pair<QString, ui::MsgResult>> answers_; // the running command's questions
    std::size_t answered_ = 0; // of them, how many its present run has had
};

// Marks the window busy for its lifetime (nests).
class BusyGuard {
public:
    explicit BusyGuard(Frm_Main& window);
    ~BusyGuard();
    BusyGuard(const BusyGuard&) = delete;
    BusyGuard& operator=(const BusyGuard&) = delete;

private:
    Frm_Main& window_;
};

} // namespace oxlip
