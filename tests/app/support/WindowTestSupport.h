#pragma once
// Helpers for the window tests: temporary settings and local folders, driving the widgets.

#include "app/Frm_Main.h"
#include "app/PaneView.h"
#include "dialogs/Frm_State.h"
#include "support/DialogDriver.h"
#include "support/FtpServers.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QTimer>
#include <QToolButton>

#include <filesystem>
#include <memory>

namespace oxlip::test {

// A window over a fresh settings folder, started in a temporary current folder.
class WindowHarness {
public:
    WindowHarness();
    ~WindowHarness();

    TempDir settingsDir;
    TempDir localDir; // the process's current folder while the window runs
    std::unique_ptr<Settings> settings;
    std::unique_ptr<Frm_Main> window;

    void writeUserIni(const std::string& text) const {
        WriteFileBytes(settingsDir.file("User.ini"), text);
    }
    void writeFtpIni(const std::string& text) const {
        WriteFileBytes(settingsDir.file("Ftp.ini"), text);
    }
    // One profile "S" (start folder `dir`, more User.ini lines); TXT and HTML go as ASCII.
    template <class Server>
    void writeServerProfile(const Server& server, const std::string& dir,
                            const std::string& password, const std::string& more = "") const {
        writeFtpIni(
            "[Oxlip]\nUser=S\nListCache=True\n[Extension]\nExtension0=TXT\nExtension1=HTML\n");
        writeUserIni("[S]\nServer=" + server.server() + "\nUserName=" + server.user() +
                     "\nPassWord=" + ScramblePassword(password) + "\nDir=" + dir +
                     "\nTransMode=0\n" + more);
    }
    Frm_Main& start();
    std::string local(const std::string& relative = "") const {
        return localDir.path() + "/" + relative;
    }
    // Makes files of the given sizes under the local folder (a name ending in "/": a folder).
    void makeLocal(std::initializer_list<std::pair<std::string, size_t>> entries) const;

private:
    std::string previousCwd_;
};

// A server with "pub", a harness and a message script; false (skipped or failed) without one.
bool StartServerAndWindow(std::unique_ptr<FtpServer>& server,
                          std::unique_ptr<WindowHarness>& harness,
                          std::unique_ptr<MessageScript>& messages,
                          ServerKind kind = ServerKind::Pyftpdlib);

// Runs `step` from the event pump of the command that runs meanwhile, once `ready` holds.
void DuringCommand(Frm_Main& w, std::function<bool()> ready, std::function<void()> step);
inline Frm_State* ShownProgress(const Frm_Main& w) {
    auto* state = w.findChild<Frm_State*>();
    return state && state->isVisible() ? state : nullptr;
}
inline int ModeOf(const std::string& path) {
    return int(std::filesystem::status(path).permissions() & std::filesystem::perms::mask);
}
void MakeFile(const std::string& path, size_t size = 0);

QStringList ItemTexts(const QComboBox* box);
// Menu entries connect/disconnect/profiles (C D U), the connect caption, the profile button
// (BU), transfer buttons (T), profile list (P), then the toolbar pairs (see Look).
QString ControlState(const Frm_Main& w);
inline const QString kDisconnectedState = QStringLiteral("C d U 接続 BU t P 0ee 1dd 1dd 1dd 0ee");
inline const QString kConnectedState = QStringLiteral("c D u 切断 bu T p 1dd 0ee 0ee 0ee 1dd");
inline const QString kSeparator36(36, QLatin1Char('-'));
// The new-folder and delete toolbar pairs: the element shown, each element enabled ("0ee 0ee").
QString EditPairs(const Frm_Main& w);
void SelectNames(PaneView* pane, const QStringList& names); // a ctrl-click on each
// The edit menu opened by a right-click: new folder, permissions, rename, delete, refresh.
QString EditMenuState(const Frm_Main& w, int side);

QStringList PaneNames(const PaneView* pane);
inline int RowOf(const PaneView* pane, const QString& name) {
    return int(PaneNames(pane).indexOf(name));
}

// Real input on a view's item: a click selects it, a double-click opens it.
void ClickItem(PaneView* pane, const QString& name, Qt::KeyboardModifiers mods = Qt::NoModifier);
void DoubleClickItem(PaneView* pane, const QString& name);
// Types a path into a path box (replacing its text), then Enter unless told not to.
void TypePath(QComboBox* box, const QString& text, bool enter = true);

} // namespace oxlip::test

namespace oxlip {

class Frm_Main::TestAccess {
public:
    static PaneView* view(const Frm_Main& w, int side) { return w.pane(side).view(); }
    static QComboBox* pathBox(const Frm_Main& w, int side) { return w.pane(side).pathBox(); }
    static QToolButton* upButton(const Frm_Main& w, int side) { return w.pane(side).upButton(); }
    static QComboBox* driveBox(const Frm_Main& w) { return w.pane(kLocalPane).driveBox(); }
    static QToolButton* transferButton(const Frm_Main& w, int index) { return w.Btn_Trs[index]; }
    static StatusListBox* log(const Frm_Main& w) { return w.StatList; }
    static QComboBox* modeBox(const Frm_Main& w) { return w.Cmb_Trs; }
    static QComboBox* profileBox(const Frm_Main& w) { return w.cmb; }
    static QPushButton* connectButton(const Frm_Main& w) { return w.Btn_Con; }
    static QPushButton* settingsButton(const Frm_Main& w) { return w.Btn_User; }
    static QWidget* clientArea(const Frm_Main& w) { return w.client; }
    static ImagePair* toolbarPair(const Frm_Main& w, const QString& name);
};

namespace test {

using UI = Frm_Main::TestAccess;
inline constexpr auto View = &UI::view;
inline constexpr auto PathBox = &UI::pathBox;
inline constexpr auto UpButton = &UI::upButton;
inline constexpr auto DriveBox = &UI::driveBox;
inline constexpr auto TransferButton = &UI::transferButton; // 0 upload, 1 download
inline constexpr auto Log = &UI::log;
inline constexpr auto ModeBox = &UI::modeBox;
inline constexpr auto ProfileBox = &UI::profileBox;
inline constexpr auto ConnectButton = &UI::connectButton;
inline constexpr auto SettingsButton = &UI::settingsButton;
inline constexpr auto ClientArea = &UI::clientArea;
// A toolbar pair and a menu entry by their object names ("imgMakeButton", "m_ReLoad").
inline constexpr auto ToolbarPair = &UI::toolbarPair;
inline QAction* Action(const Frm_Main& w, const QString& name) {
    return w.findChild<QAction*>(name);
}
// The path box's text, then the names the pane shows.
inline QStringList Shown(const Frm_Main& w, int side) {
    return QStringList{PathBox(w, side)->currentText()} + PaneNames(View(w, side));
}
// Selects the names in a pane and clicks its transfer button (0 upload, 1 download).
inline void TransferFrom(Frm_Main& w, int side, const QStringList& names) {
    SelectNames(View(w, side), names);
    QTest::mouseClick(TransferButton(w, side), Qt::LeftButton);
}
// Clicks 接続/切断; whether connected afterwards.
inline bool Toggle(Frm_Main& w) {
    QTest::mouseClick(ConnectButton(w), Qt::LeftButton);
    return w.connected();
}

} // namespace test
} // namespace oxlip
