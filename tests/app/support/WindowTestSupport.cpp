#include "support/WindowTestSupport.h"

#include <QAbstractItemView>
#include <QItemSelectionModel>
#include <QLineEdit>
#include <QMenu>
#include <QStandardItemModel>

#include <filesystem>
#include <fstream>
#include <map>

namespace oxlip {

ImagePair* Frm_Main::TestAccess::toolbarPair(const Frm_Main& w, const QString& name) {
    const std::map<QString, ImagePair*> pairs{
        {"imgConnecttButton", w.imgConnecttButton.get()},  {"imgCutButton", w.imgCutButton.get()},
        {"imgMakeButton", w.imgMakeButton.get()},          {"imgDelButton", w.imgDelButton.get()},
        {"imgDounButtonUp", w.imgDounButtonUp.get()},      {"imgUpButtonUp", w.imgUpButtonUp.get()},
        {"imgSettingButtonUp", w.imgSettingButtonUp.get()}};
    return pairs.at(name);
}

} // namespace oxlip

namespace oxlip::test {

QStringList ItemTexts(const QComboBox* box) {
    QStringList out;
    for (int i = 0; i < box->count(); ++i) {
        out << box->itemText(i);
    }
    return out;
}

namespace {
// A toolbar pair: the element shown, then whether each element is enabled ("0ee", "1dd").
QString Look(const ImagePair& p) {
    return QStringLiteral("%1%2%3")
        .arg(p.shownElement())
        .arg(p.element(0)->isEnabled() ? 'e' : 'd')
        .arg(p.element(1)->isEnabled() ? 'e' : 'd');
}
} // namespace

QString EditPairs(const Frm_Main& w) {
    return Look(*ToolbarPair(w, "imgMakeButton")) + " " + Look(*ToolbarPair(w, "imgDelButton"));
}

QString ControlState(const Frm_Main& w) {
    QStringList out{Action(w, "m_Connect")->isEnabled() ? "C" : "c",
                    Action(w, "m_Disconnect")->isEnabled() ? "D" : "d",
                    Action(w, "m_User")->isEnabled() ? "U" : "u",
                    ConnectButton(w)->text(),
                    SettingsButton(w)->isEnabled() ? "BU" : "bu",
                    TransferButton(w, 0)->isEnabled() && TransferButton(w, 1)->isEnabled() ? "T"
                                                                                           : "t",
                    ProfileBox(w)->isEnabled() ? "P" : "p"};
    for (const char* pair : {"imgConnecttButton", "imgCutButton", "imgDounButtonUp",
                             "imgUpButtonUp", "imgSettingButtonUp"}) {
        out << Look(*ToolbarPair(w, pair));
    }
    return out.join(QLatin1Char(' '));
}

QString EditMenuState(const Frm_Main& w, int side) {
    QTest::mouseClick(View(w, side)->currentView()->viewport(), Qt::RightButton, Qt::NoModifier,
                      QPoint(20, 10));
    auto* menu = w.findChild<QMenu*>("m_Edit");
    if (!QTest::qWaitFor([menu] { return menu->isVisible(); }, 5000)) {
        return QString();
    }
    QString out;
    for (const char* name :
         {"m_MakeFolder", "m_Permision", "m_ChangeName", "m_DelFile", "m_ReLoad"}) {
        out += Action(w, name)->isEnabled() ? '1' : '0';
    }
    menu->hide();
    return out;
}

void SelectNames(PaneView* pane, const QStringList& names) {
    pane->selection()->clearSelection();
    for (const QString& name : names) {
        ClickItem(pane, name, Qt::ControlModifier);
    }
}

namespace fs = std::filesystem;

WindowHarness::WindowHarness() {
    previousCwd_ = fs::current_path().string();
    fs::current_path(localDir.path());
    settings = std::make_unique<Settings>(settingsDir.path());
}

WindowHarness::~WindowHarness() {
    window.reset();
    std::error_code ec;
    fs::current_path(previousCwd_, ec);
}

Frm_Main& WindowHarness::start() {
    window = std::make_unique<Frm_Main>(*settings);
    window->show();
    window->activateWindow();
    (void)QTest::qWaitForWindowActive(window.get());
    return *window;
}

void WindowHarness::makeLocal(std::initializer_list<std::pair<std::string, size_t>> entries) const {
    for (const auto& [name, size] : entries) {
        if (!name.empty() && name.back() == '/') {
            fs::create_directories(local(name));
        } else {
            MakeFile(local(name), size);
        }
    }
}

bool StartServerAndWindow(std::unique_ptr<FtpServer>& server,
                          std::unique_ptr<WindowHarness>& harness,
                          std::unique_ptr<MessageScript>& messages, ServerKind kind) {
    std::string why;
    if (!CanRunServer(kind, &why)) {
        QTest::qSkip(why.c_str(), __FILE__, __LINE__);
        return false;
    }
    server = std::make_unique<FtpServer>(kind);
    if (!QTest::qVerify(server->ok(), "server", server->error().c_str(), __FILE__, __LINE__)) {
        return false;
    }
    server->makeDir("pub");
    harness = std::make_unique<WindowHarness>();
    messages = std::make_unique<MessageScript>();
    return true;
}

void MakeFile(const std::string& path, size_t size) {
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    const std::string block(4096, 'x');
    for (size_t done = 0; done < size; done += block.size()) {
        out.write(block.data(), std::streamsize(std::min(block.size(), size - done)));
    }
}

void DuringCommand(Frm_Main& w, std::function<bool()> ready, std::function<void()> step) {
    auto* timer = new QTimer(&w);
    auto tries = std::make_shared<int>(0);
    QObject::connect(timer, &QTimer::timeout, &w, [timer, tries, ready, step]() {
        const bool now = ready();
        if (now || ++*tries > 20000) {
            timer->stop();
            timer->deleteLater();
        }
        if (now) {
            step();
        }
    });
    timer->start(1);
}

QStringList PaneNames(const PaneView* pane) {
    QStringList names;
    for (int row = 0; row < pane->count(); ++row) {
        names << pane->itemText(row);
    }
    return names;
}

namespace {
QPoint ItemCentre(PaneView* pane, const QString& name) {
    QAbstractItemView* view = pane->currentView();
    const QModelIndex index = pane->model()->index(RowOf(pane, name), 0);
    view->scrollTo(index);
    return view->visualRect(index).center();
}
} // namespace

void ClickItem(PaneView* pane, const QString& name, Qt::KeyboardModifiers mods) {
    QTest::mouseClick(pane->currentView()->viewport(), Qt::LeftButton, mods,
                      ItemCentre(pane, name));
}

void DoubleClickItem(PaneView* pane, const QString& name) {
    const QPoint at = ItemCentre(pane, name);
    QWidget* viewport = pane->currentView()->viewport();
    QTest::mouseClick(viewport, Qt::LeftButton, Qt::NoModifier, at);
    QTest::mouseDClick(viewport, Qt::LeftButton, Qt::NoModifier, at);
}

void TypePath(QComboBox* box, const QString& text, bool enter) {
    box->setFocus();
    box->lineEdit()->selectAll();
    // Key clicks only carry Latin-1 characters: other text is put in as typed text would be.
    if (text.toLatin1() == text.toUtf8()) {
        QTest::keyClicks(box->lineEdit(), text);
    } else {
        box->lineEdit()->insert(text);
    }
    if (enter) {
        QTest::keyClick(box, Qt::Key_Return);
    }
}

} // namespace oxlip::test
