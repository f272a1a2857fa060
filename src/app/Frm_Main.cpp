#include "app/Frm_Main.h"

#include "app/Images.h"
#include "app/PaneView.h"
#include "app/ProfileConnection.h"
#include "dialogs/DialogUi.h"
#include "dialogs/Dialogs.h"
#include "dialogs/Frm_State.h"
#include "dialogs/Modal.h"
#include "ftp/RemoteDir.h"
#include "localfs/LocalFs.h"
#include "settings/Version.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QFont>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <QToolButton>
#include <QTreeView>
#include <QWindow>

#include <algorithm>
#include <cmath>

namespace oxlip {

namespace {

// How long the window waits for a drive to answer.
constexpr int kDriveProbeMs = 3000;

QString q(const std::string& text) {
    return QString::fromStdString(text);
}

} // namespace

// ---- The window placement, in twips, as the settings read and write it ----

class Frm_Main::Placement : public WindowPlacement {
public:
    explicit Placement(Frm_Main* window) : w_(window) {}

    void setPlacement(float left, float top, float width, float height) override {
        w_->move(toPixels(left), toPixels(top));
        setOuterSize(width, height);
    }
    void setSizeOnly(float width, float height) override { setOuterSize(width, height); }
    void setWindowState(int state) override {
        Qt::WindowStates states = w_->windowState() & ~(Qt::WindowMinimized | Qt::WindowMaximized);
        if (state & 2) {
            states |= Qt::WindowMaximized;
        }
        w_->setWindowState(states);
    }
    float left() const override { return float(w_->frameGeometry().x() * kTwipsPerPixel); }
    float top() const override { return float(w_->frameGeometry().y() * kTwipsPerPixel); }
    float width() const override { return float(w_->frameGeometry().width() * kTwipsPerPixel); }
    float height() const override { return float(w_->frameGeometry().height() * kTwipsPerPixel); }
    int windowState() const override {
        if (w_->isMinimized()) {
            return 1;
        }
        return w_->isMaximized() ? 2 : 0;
    }

    // The frame's share of the outer size (0 before the window system has framed it).
    QSize frameExtra() const {
        if (!w_->isVisible()) {
            return {0, 0};
        }
        const QRect outer = w_->frameGeometry();
        const QRect inner = w_->geometry();
        return {std::max(0, outer.width() - inner.width()),
                std::max(0, outer.height() - inner.height())};
    }

private:
    static int toPixels(float twips) {
        if (!std::isfinite(twips)) {
            return 0;
        }
        const float clamped = std::clamp(twips, -1.0e7f, 1.0e7f);
        return int(std::lround(clamped / kTwipsPerPixel));
    }
    void setOuterSize(float width, float height) {
        const QSize extra = frameExtra();
        const QSize outer(toPixels(width), toPixels(height));
        w_->resize(std::max(1, outer.width() - extra.width()),
                   std::max(1, outer.height() - extra.height()));
        // Before the window is framed its frame is unknown: fit the outer size again then.
        pendingOuter_ = extra.isNull() ? outer : QSize();
    }

public:
    // Called once the window system has framed the window.
    void fitPendingOuterSize() {
        const QSize extra = frameExtra();
        if (!pendingOuter_.isValid() || extra.isNull() || w_->isMaximized()) {
            return;
        }
        w_->resize(std::max(1, pendingOuter_.width() - extra.width()),
                   std::max(1, pendingOuter_.height() - extra.height()));
        pendingOuter_ = QSize();
    }

private:
    QSize pendingOuter_;

    Frm_Main* w_;
};

// ---- Busy state ----

BusyGuard::BusyGuard(Frm_Main& window) : window_(window) {
    ++window_.busy_;
}

BusyGuard::~BusyGuard() {
    window_.endBusy();
}

void Frm_Main::endBusy() {
    --busy_;
    if (busy_ == 0) {
        keepAlive_.restart();
    }
    if (busy_ == 0 && closeRequested_) {
        closeRequested_ = false;
        QTimer::singleShot(0, this, [this]() { close(); });
    }
}

bool Frm_Main::runCommand(const std::function<void()>& command) {
    if (busy_ > 0) {
        refuse();
        return false;
    }
    BusyGuard guard(*this);
    runHeld(command);
    return true;
}

void Frm_Main::refuse() {
    QApplication::beep();
}

// ---- Construction ----

Frm_Main::Frm_Main(Settings& settings, QWidget* parent)
    : QMainWindow(parent), settings_(settings),
      sink_([this] { return StatList; }, [this] { return stateWindow(); }, pump_),
      security_(std::make_unique<ProfileSecurity>(settings_, this)),
      keepAlive_([this] { return busy_ == 0 && session_.connected(); },
                 [this] {
                     BusyGuard busy(*this);
                     // A connection found lost is taken up by the next command.
                     (void)KeepAlive(session_);
                 }),
      placement_(std::make_unique<Placement>(this)) {
    ui::InstallJapaneseFontSubstitutes();
    setWindowTitle(QStringLiteral("Oxlip"));
    setWindowIcon(images::appIcon());
    setFont(QFont(kUiFont, 9));

    buildMenus();
    buildControls();
    buildToolbar();
    connectSignals();

    ports_.sink = &sink_;
    ports_.asciiExtensions = &settings_.AsciiExtensionList;
    session_.setPorts(ports_);
    setDriveProbe([](const std::string& root) { return PathIsDirectory(root); }, kDriveProbeMs);

    applyMinimumSize();
    resize(kMinOuterWidthPx, kMinOuterHeightPx);
    Form_Load();
}

Frm_Main::~Frm_Main() {
    ++busy_; // closing pumps events: no handler may start anything now
    if (session_.connected()) {
        CloseSession(session_);
    }
    delete state_.data();
}

void Frm_Main::connectSignals() {
    auto command = [this](auto member) {
        return [this, member]() { runCommand([=, this]() { (this->*member)(); }); };
    };
    connect(Btn_Con, &QPushButton::clicked, this, command(&Frm_Main::Btn_Con_Click));
    connect(m_Connect, &QAction::triggered, this, command(&Frm_Main::Btn_Con_Click));
    connect(m_Disconnect, &QAction::triggered, this, command(&Frm_Main::Btn_Con_Click));
    connect(Btn_User, &QPushButton::clicked, this, command(&Frm_Main::Btn_User_Click));
    connect(m_User, &QAction::triggered, this, command(&Frm_Main::Btn_User_Click));
    connect(Btn_Ftp, &QPushButton::clicked, this, command(&Frm_Main::Btn_Ftp_Click));
    connect(m_DetailSet, &QAction::triggered, this, command(&Frm_Main::Btn_Ftp_Click));
    connect(m_Version, &QAction::triggered, this, command(&Frm_Main::m_Version_Click));
    connect(m_Close, &QAction::triggered, this, &QWidget::close);
    connect(m_ReLoad, &QAction::triggered, this, command(&Frm_Main::m_ReLoad_Click));
    connect(m_MakeFolder, &QAction::triggered, this, command(&Frm_Main::m_MakeFolder_Click));
    connect(m_DelFile, &QAction::triggered, this, command(&Frm_Main::m_DelFile_Click));
    connect(m_ChangeName, &QAction::triggered, this, command(&Frm_Main::m_ChangeName_Click));
    connect(m_Permision, &QAction::triggered, this, command(&Frm_Main::m_Permision_Click));

    for (int i = 0; i < 4; ++i) {
        connect(m_ListView[i], &QAction::triggered, this,
                [this, i]() { view(kLocalPane)->setViewMode(i); });
        connect(h_ListView[i], &QAction::triggered, this,
                [this, i]() { view(kHostPane)->setViewMode(i); });
    }

    // The profile list: a refused choice puts the current profile back.
    connect(cmb, &QComboBox::activated, this, [this]() {
        if (!runCommand([this]() { cmb_Click(); })) {
            cmb->setCurrentIndex(cmb->findText(q(settings_.profile.ProfileName)));
        }
    });
    connect(Cmb_Trs, &QComboBox::activated, this, [this]() { Cmb_Trs_Click(); });
    QComboBox* drives = pane(kLocalPane).driveBox();
    connect(drives, &QComboBox::activated, this, [this, drives]() {
        if (!runCommand([this]() { Drv_Change(); })) {
            drives->setCurrentIndex(
                drives->findText(q(MountPointOfPath(ShownFolder(kLocalPane), mounts_))));
        }
    });

    for (int n = 0; n < 2; ++n) {
        connect(pane(n).upButton(), &QToolButton::clicked, this,
                [this, n]() { runCommand([this, n]() { Btn_Click(n); }); });
        connect(Btn_Trs[n], &QToolButton::clicked, this,
                [this, n]() { runCommand([this, n]() { Btn_Trs_Click(n); }); });
        // Picking an entry shows it; refused (busy, or a disconnected host pane) the box shows
        // the shown folder again.
        connect(pane(n).pathBox(), &QComboBox::activated, this, [this, n](int index) {
            if (!paneUsable(n) || !runCommand([this, n, index]() { SelectPathEntry(n, index); })) {
                pane(n).restorePathBox();
            }
        });
        PaneView* lv = view(n);
        connect(lv, &PaneView::focusReceived, this, [this, n]() { lv_GotFocus(n); });
        connect(lv, &PaneView::headerClicked, this,
                [this, n](int column) { lv_ColumnClick(n, column); });
        connect(lv, &PaneView::itemDoubleClicked, this,
                [this, n]() { runCommand([this, n]() { lv_DblClick(n); }); });
        connect(
            lv, &PaneView::keyPressed, this,
            [this, n](int key, Qt::KeyboardModifiers modifiers) { lv_KeyDown(n, key, modifiers); });
        connect(lv, &PaneView::rightButtonReleased, this,
                [this, n](const QPoint& pos) { lv_MouseUp(n, pos); });
        lv->setDropFilter([this, n](const QMimeData* data) {
            return acceptsDrop(n, PaneView::dragMarkerOf(data),
                               data->hasUrls() ? data->urls() : QList<QUrl>());
        });
        connect(lv, &PaneView::dropped, this,
                [this, n](const QByteArray& marker, const QList<QUrl>& urls) {
                    paneDropped(n, marker, urls);
                });
        lv->setRenameDecider([this, n](int row, const QString& oldName, const QString& newName) {
            if (busy_ > 0) {
                refuse();
                return oldName;
            }
            BusyGuard guard(*this);
            return lv_AfterLabelEdit(n, row, oldName, newName);
        });
    }
}

bool Frm_Main::eventFilter(QObject* watched, QEvent* event) {
    if (watched == client && event->type() == QEvent::Resize) {
        Form_Resize();
        return false;
    }
    if (event->type() == QEvent::KeyPress || event->type() == QEvent::KeyRelease) {
        auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
            for (int n = 0; n < 2; ++n) {
                const QComboBox* box = pane(n).pathBox();
                if (watched != box && watched != box->lineEdit()) {
                    continue;
                }
                if (event->type() == QEvent::KeyPress && !key->isAutoRepeat()) {
                    runCommand([this, n]() { Cmb_Dir_Enter(n); });
                }
                return true; // the box itself does nothing with Enter
            }
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

// ---- Start-up ----

void Frm_Main::Form_Load() {
    // 1. The toolbar pairs: element 1 onto element 0, and their first looks.
    for (ImagePair* pair :
         {imgConnecttButton.get(), imgCutButton.get(), imgMakeButton.get(), imgDelButton.get(),
          imgDounButtonUp.get(), imgUpButtonUp.get(), imgSettingButtonUp.get()}) {
        pair->stack();
    }
    imgConnecttButton->show(0);
    imgCutButton->setActive(false);
    imgMakeButton->setActive(false);
    imgDelButton->setActive(false);
    imgDounButtonUp->show(0);
    imgUpButtonUp->show(0);
    imgSettingButtonUp->show(0);

    // 2. Settings; the window takes its stored placement.
    settings_.LoadAsciiExtensions();
    settings_.LoadAppSettings(placement_.get());
    keepOnScreen();
    settings_.LoadProfile();

    // 3-4. The local pane.
    settings_.profile.LastPathLocal = localStartPath();
    SetLocalPath(settings_.profile.LastPathLocal);

    // 5-6.
    FillProfileList();
    ShowDisconnectedState();

    // 7. The banner.
    StatList->appendLine(QStringLiteral("Welcom !!  Oxlip  Vre.") + q(VersionText()));
    StatList->appendLine(QString(61, QLatin1Char('-')));
}

std::string Frm_Main::localStartPath() const {
    const std::string& stored = settings_.profile.LastPathLocal;
    if (!stored.empty()) {
        return stored;
    }
    std::string current = CurrentLocalFolder();
    if (current.empty() || current.back() != '/') {
        current += '/';
    }
    return current;
}

void Frm_Main::keepOnScreen() {
    // A placement saved on a screen that is gone would hide the window: bring it back.
    const QRect frame(pos(), size());
    for (QScreen* screen : QGuiApplication::screens()) {
        if (screen->availableGeometry().intersects(frame)) {
            return;
        }
    }
    if (QScreen* primary = QGuiApplication::primaryScreen()) {
        move(primary->availableGeometry().topLeft());
    }
}

// ---- Layout ----

void Frm_Main::applyMinimumSize() {
    const QSize extra = placement_->frameExtra();
    setMinimumSize(kMinOuterWidthPx - extra.width(), kMinOuterHeightPx - extra.height());
}

void Frm_Main::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    applyMinimumSize();
    placement_->fitPendingOuterSize();
}

void Frm_Main::resizeEvent(QResizeEvent* event) {
    QMainWindow::resizeEvent(event);
    if (isMinimized()) {
        return;
    }
    applyMinimumSize();
    placement_->fitPendingOuterSize();
    // Spring back when the window system let the window become smaller than its minimum.
    const QSize outer = frameGeometry().size();
    if (!isMaximized() && !isFullScreen() &&
        (outer.width() < kMinOuterWidthPx || outer.height() < kMinOuterHeightPx)) {
        const QSize extra = placement_->frameExtra();
        resize(std::max(outer.width(), kMinOuterWidthPx) - extra.width(),
               std::max(outer.height(), kMinOuterHeightPx) - extra.height());
    }
}

void Frm_Main::Form_Resize() {
    if (isMinimized()) {
        return;
    }
    const double W = client->width();
    const double H = client->height();
    auto px = [](double value) { return int(std::lround(value)); };

    const int lvWidth = std::max(0, px(W / 2.3));
    const int lvHeight = std::max(0, px(H - 185));
    const int lv1Left = px(W / 1.822);
    const Pane& local = pane(kLocalPane);
    const Pane& host = pane(kHostPane);
    local.view()->setGeometry(local.view()->x(), local.view()->y(), lvWidth, lvHeight);
    host.view()->setGeometry(lv1Left, host.view()->y(), lvWidth, lvHeight);

    local.upButton()->move(local.view()->x(), local.upButton()->y());
    local.driveBox()->move(local.upButton()->x() + 24, local.driveBox()->y());
    const int dir0Left = local.driveBox()->x() + 80;
    local.pathBox()->setGeometry(dir0Left, local.pathBox()->y(), std::max(0, lvWidth - dir0Left),
                                 local.pathBox()->height());
    host.upButton()->move(lv1Left, host.upButton()->y());
    const int dir1Left = host.upButton()->x() + 24;
    host.pathBox()->setGeometry(dir1Left, host.pathBox()->y(),
                                std::max(0, lv1Left + lvWidth - dir1Left),
                                host.pathBox()->height());

    const int trsLeft = px(W / 2 - Btn_Trs[0]->width() / 2.0);
    Btn_Trs[0]->move(trsLeft, Btn_Trs[0]->y());
    Btn_Trs[1]->move(trsLeft, Btn_Trs[1]->y());

    Btn_Ftp->move(lv1Left + lvWidth - 76, Btn_Ftp->y());
    Btn_User->move(Btn_Ftp->x() - 80, Btn_User->y());
    Btn_Con->move(Btn_User->x() - 80, Btn_Con->y());

    StatList->setGeometry(0, lvHeight + local.view()->y() + 3, int(W), StatList->height());
}

// ---- Closing ----

void Frm_Main::closeEvent(QCloseEvent* event) {
    if (unloaded_) {
        event->accept();
        return;
    }
    if (connected() && !closeConfirmed_) {
        const QString text =
            q(settings_.profile.Server) + QStringLiteral(" へ接続中ですが、切断しますか？");
        if (ui::ShowMessage(this, text, ui::MsgIcon::Question, ui::MsgButtons::YesNo) !=
            ui::MsgResult::Yes) {
            event->ignore();
            return;
        }
        closeConfirmed_ = true;
    }
    if (busy_ > 0) {
        // A command is still working further down the stack: close once it has ended.
        closeRequested_ = true;
        event->ignore();
        return;
    }
    {
        // Saving and closing the connection pump events (the answer to QUIT is awaited): the
        // window stays busy meanwhile, so no handler starts or closes anything.
        BusyGuard busy(*this);
        Form_Unload();
        unloaded_ = true;
        closeRequested_ = false;
    }
    event->accept();
}

bool Frm_Main::Form_Unload() {
    CapturePaneState();
    QStringList failed;
    if (!settings_.SaveAsciiExtensions()) {
        failed << q(settings_.ftpIniPath());
    }
    if (!settings_.SaveProfile()) {
        failed << q(settings_.userIniPath());
    }
    if (!settings_.SaveAppSettings(placement_.get()) &&
        !failed.contains(q(settings_.ftpIniPath()))) {
        failed << q(settings_.ftpIniPath());
    }
    if (session_.connected()) {
        CloseSession(session_);
    }
    delete state_.data();
    if (!failed.isEmpty()) {
        ui::ShowMessage(this,
                        QStringLiteral("設定を保存出来ませんでした") + QStringLiteral("\r\n") +
                            failed.join(QStringLiteral("\r\n")),
                        ui::MsgIcon::Critical, ui::MsgButtons::Ok);
        return false;
    }
    return true;
}

// ---- Progress window ----

Frm_State* Frm_Main::stateWindow() {
    if (!state_) {
        state_ = new Frm_State(this);
        connect(state_, &Frm_State::cancelRequested, this, [this]() { session_.requestCancel(); });
    }
    return state_.data();
}

void Frm_Main::showStateWindow() {
    activeBeforeState_ = isActiveWindow();
    Frm_State* state = stateWindow();
    session_.clearCancel();
    const QPoint centre = frameGeometry().center();
    state->move(centre.x() - state->width() / 2, centre.y() - state->height() / 2);
    state->show();
    pump_.pump();
}

void Frm_Main::unloadStateWindow() {
    session_.clearCancel();
    if (state_) {
        state_->hide();
        delete state_.data();
    }
    // The keyboard goes back to the main window if the progress window took it.
    if (activeBeforeState_ && !isActiveWindow()) {
        activateWindow();
    }
}

// ---- Connection control ----

void Frm_Main::Btn_Con_Click() {
    ConnectionProfile& profile = settings_.profile;
    if (session_.connected()) {
        StatList->appendLine(QStringLiteral("切断中"));
        CloseSession(session_);
        profile.LastPathHost = ShownFolder(kHostPane);
        ShowDisconnectedState();
        StatList->appendLine(QStringLiteral("切断しました。"));
        StatList->appendLine(QString(38, QLatin1Char('-')));
        return;
    }

    BusyGuard busy(*this);
    Btn_Con->setEnabled(false);
    security_->startConnection(); // a certificate let through once is asked for again
    if (!OpenProfileSession(session_, settings_, *security_)) {
        ui::ShowMessage(this, q(profile.Server) + QStringLiteral(" へ接続出来ませんでした"),
                        ui::MsgIcon::Critical, ui::MsgButtons::Ok);
        Btn_Con->setEnabled(true);
        return;
    }
    Btn_Con->setEnabled(true);
    ShowConnectedState();

    profile.LastPathHost = profile.Dir;
    // Without a start folder the host pane opens at the login folder.
    std::string start = profile.Dir;
    if (start.empty()) {
        start = HostCurrentDirectory(session_, "").value();
    }
    if (!start.empty()) {
        SetHostPath(start);
        ShowHostFolder(start);
    }
    StatList->appendLine(QString(38, QLatin1Char('-')));
}

void Frm_Main::ShowConnectedState() {
    showConnectionState(true);
    keepAlive_.start(settings_.profile.KeepAlive);
}

void Frm_Main::ShowDisconnectedState() {
    showConnectionState(false);
    keepAlive_.stop();
}

void Frm_Main::showConnectionState(bool open) {
    m_Connect->setEnabled(!open);
    m_Disconnect->setEnabled(open);
    m_User->setEnabled(!open);
    Btn_Con->setText(open ? QStringLiteral("切断") : QStringLiteral("接続"));
    Btn_User->setEnabled(!open);
    Btn_Trs[0]->setEnabled(open);
    Btn_Trs[1]->setEnabled(open);
    cmb->setEnabled(!open);
    imgConnecttButton->setActive(!open);
    imgCutButton->setActive(open);
    imgDounButtonUp->setActive(open);
    imgUpButtonUp->setActive(open);
    imgSettingButtonUp->setActive(!open);
}

void Frm_Main::cmb_Click() {
    CapturePaneState();
    if (!settings_.SaveProfile()) {
        ui::ShowMessage(this,
                        QStringLiteral("設定を保存出来ませんでした") + QStringLiteral("\r\n") +
                            q(settings_.userIniPath()),
                        ui::MsgIcon::Critical, ui::MsgButtons::Ok);
    }
    settings_.profile.ProfileName = cmb->currentText().toStdString();
    settings_.LoadProfile();
    settings_.profile.LastPathLocal = localStartPath();
    SetLocalPath(settings_.profile.LastPathLocal);
}

void Frm_Main::FillProfileList() {
    bool exists = false;
    const std::vector<std::string> names = settings_.ProfileNames(&exists);
    if (!exists) {
        return;
    }
    cmb->clear();
    for (const std::string& name : names) {
        cmb->addItem(q(name));
    }
    cmb->setCurrentIndex(-1);
    const std::string& current = settings_.profile.ProfileName;
    if (current.empty()) {
        return;
    }
    int selected = -1;
    for (int i = 0; i < int(names.size()); ++i) {
        if (names[size_t(i)] == current) {
            selected = i;
        }
    }
    if (selected >= 0) {
        cmb->setCurrentIndex(selected);
        cmb_Click();
    }
    Cmb_Trs->setCurrentIndex(clampedTransMode());
    Cmb_Trs_Click();
}

void Frm_Main::Btn_User_Click() {
    Frm_User dialog(settings_, this);
    ui::ExecDialog(&dialog);
    FillProfileList();
}

void Frm_Main::Btn_Ftp_Click() {
    Frm_Ftp dialog(settings_, this);
    ui::ExecDialog(&dialog);
}

void Frm_Main::m_Version_Click() {
    Frm_Ver dialog(windowIcon(), this);
    ui::ExecDialog(&dialog);
}

void Frm_Main::Cmb_Trs_Click() {
    settings_.profile.TransMode = Cmb_Trs->currentIndex();
}

void Frm_Main::CapturePaneState() {
    settings_.profile.TransMode = Cmb_Trs->currentIndex();
}

int Frm_Main::clampedTransMode() const {
    // A stored mode the list cannot show falls back to automatic.
    const int mode = settings_.profile.TransMode;
    return (mode >= 0 && mode <= 2) ? mode : 0;
}

TransferMode Frm_Main::transferMode() const {
    // The mode list's rows: automatic, ASCII, binary.
    static constexpr TransferMode kRows[] = {TransferMode::Auto, TransferMode::Ascii,
                                             TransferMode::Binary};
    return kRows[clampedTransMode()];
}

} // namespace oxlip
