#pragma once
// Helpers for the window tests: a settings folder and a local tree in temporary folders,
// answers for the message boxes, and small ways to drive the real widgets.

#include "app/Frm_Main.h"
#include "dialogs/Modal.h"
#include "settings/Settings.h"
#include "support/FtpServers.h"
#include "support/TempDir.h"

#include <QStringList>

#include <deque>
#include <memory>
#include <string>

class QAbstractItemView;

namespace oxlip::test {

// Records every message box and answers from a script of answers (Yes / Ok once it has
// run out).
class MessageScript {
public:
    MessageScript();
    ~MessageScript();
    QStringList texts;
    std::deque<ui::MsgResult> answers;
};

// Records the dialogs run through the seam and answers them (Rejected by default); a hook
// may act on the dialog first.
class DialogRecorder {
public:
    DialogRecorder();
    ~DialogRecorder();
    QStringList classNames;
    std::function<int(QDialog*)> hook;
};

// A window over a fresh settings folder, started in a temporary current folder.
class WindowHarness {
public:
    WindowHarness();
    ~WindowHarness();

    TempDir settingsDir;
    TempDir localDir; // the process's current folder while the window runs
    std::unique_ptr<Settings> settings;
    std::unique_ptr<Frm_Main> window;

    // Writes User.ini / Ftp.ini before start().
    void writeUserIni(const std::string& text) const;
    void writeFtpIni(const std::string& text) const;
    // Settings with one profile "S" for the server (host start folder `dir`), chosen at start;
    // TXT and HTML files go in ASCII mode.
    void writeServerProfile(const FtpServer& server, const std::string& dir,
                            const std::string& password, bool listCache = true) const;
    Frm_Main& start();
    std::string local(const std::string& relative = "") const;

private:
    std::string previousCwd_;
};

// A test server (pyftpdlib unless told) whose root holds the folder "pub". Null when this machine
// cannot run one (canRun false: skip) or it did not start (fail); why says which.
std::unique_ptr<FtpServer> StartServerWithPub(bool& canRun, std::string& why,
                                              ServerKind kind = ServerKind::Pyftpdlib);

// For a test's init(): the server of StartServerWithPub, then a fresh window harness and
// message script. Without a server the test is marked skipped (this machine cannot run one)
// or failed, and the result is false.
bool StartServerAndWindow(std::unique_ptr<FtpServer>& server,
                          std::unique_ptr<WindowHarness>& harness,
                          std::unique_ptr<MessageScript>& messages,
                          ServerKind kind = ServerKind::Pyftpdlib);

// Creates a file of `size` bytes (and its folders) under root.
void MakeFile(const std::string& path, size_t size = 0);
void MakeDir(const std::string& path);

// The names shown in a pane, in order.
QStringList PaneNames(const PaneView* pane);
int RowOf(const PaneView* pane, const QString& name);

// Real input on a view's item: a click selects it, a double-click opens it.
void ClickItem(PaneView* pane, const QString& name, Qt::KeyboardModifiers mods = Qt::NoModifier);
void DoubleClickItem(PaneView* pane, const QString& name);
// Types a path into a path box (replacing its text), without Enter; then with Enter.
void TypePath(QComboBox* box, const QString& text);
void TypePathAndEnter(QComboBox* box, const QString& text);

} // namespace oxlip::test
