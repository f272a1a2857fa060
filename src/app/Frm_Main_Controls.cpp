// The main window's controls: the menus, the panes and buttons, and the toolbar pairs.

#include "app/Frm_Main.h"

#include "app/Images.h"
#include "app/PaneView.h"
#include "localfs/LocalFs.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QFont>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QToolButton>

#include <algorithm>

namespace oxlip {

void Frm_Main::buildMenus() {
    QMenuBar* bar = menuBar();
    bar->setFont(QFont(kUiFont, 9));
    auto addMenu = [this](const QString& title, const QString& name) {
        auto* menu = new QMenu(title, this);
        menu->setObjectName(name);
        menu->setFont(QFont(kUiFont, 9));
        return menu;
    };
    auto addAction = [](QMenu* menu, const QString& text, const QString& name) {
        QAction* action = menu->addAction(text);
        action->setObjectName(name);
        return action;
    };

    m_File = addMenu(QStringLiteral("ファイル(&F)"), QStringLiteral("m_File"));
    m_Connect = addAction(m_File, QStringLiteral("接続(&C)"), QStringLiteral("m_Connect"));
    m_Disconnect = addAction(m_File, QStringLiteral("切断(&D)"), QStringLiteral("m_Disconnect"));
    m_File->addSeparator()->setObjectName(QStringLiteral("L0"));
    m_Close = addAction(m_File, QStringLiteral("終了(&X)"), QStringLiteral("m_Close"));

    const QString viewCaptions[4] = {
        QStringLiteral("大きいアイコン(&I)"), QStringLiteral("小さいアイコン(&S)"),
        QStringLiteral("一覧表示(&L)"), QStringLiteral("詳細表示(&D)")};
    m_View = addMenu(QStringLiteral("表示(&V)"), QStringLiteral("m_View"));
    h_View = addMenu(QStringLiteral("ホスト表示(&H)"), QStringLiteral("h_View"));
    for (int i = 0; i < 4; ++i) {
        m_ListView[i] = addAction(m_View, viewCaptions[i], QStringLiteral("m_ListView%1").arg(i));
        h_ListView[i] = addAction(h_View, viewCaptions[i], QStringLiteral("h_ListView%1").arg(i));
    }

    m_Setting = addMenu(QStringLiteral("設定(&S)"), QStringLiteral("m_Setting"));
    m_User = addAction(m_Setting, QStringLiteral("ユーザ設定(&U)"), QStringLiteral("m_User"));
    m_DetailSet =
        addAction(m_Setting, QStringLiteral("詳細設定(&D)"), QStringLiteral("m_DetailSet"));
    m_Version =
        addAction(m_Setting, QStringLiteral("バージョン情報(&A)"), QStringLiteral("m_Version"));

    bar->addMenu(m_File);
    bar->addMenu(m_View);
    bar->addMenu(h_View);
    bar->addMenu(m_Setting);

    // The edit menu is not in the menu bar: it is the panes' context menu. Its shortcut texts
    // are shown beside the entries; the panes handle the keys themselves.
    m_Edit = addMenu(QStringLiteral("編集(&E)"), QStringLiteral("m_Edit"));
    m_MakeFolder = addAction(m_Edit, QStringLiteral("新しいフォルダの作成(&D)"),
                             QStringLiteral("m_MakeFolder"));
    m_Edit->addSeparator()->setObjectName(QStringLiteral("L1"));
    m_Permision = addAction(m_Edit, QStringLiteral("パーミッションの変更(&P)"),
                            QStringLiteral("m_Permision"));
    m_ChangeName =
        addAction(m_Edit, QStringLiteral("ファイル名の変更(&C)"), QStringLiteral("m_ChangeName"));
    m_DelFile =
        addAction(m_Edit, QStringLiteral("ファイルの削除(&D)"), QStringLiteral("m_DelFile"));
    m_Edit->addSeparator()->setObjectName(QStringLiteral("L2"));
    m_ReLoad =
        addAction(m_Edit, QStringLiteral("最新の情報に更新(&N)"), QStringLiteral("m_ReLoad"));
    const std::pair<QAction*, QKeySequence> shortcuts[] = {
        {m_Permision, QKeySequence(Qt::CTRL | Qt::Key_P)},
        {m_ChangeName, QKeySequence(Qt::Key_F2)},
        {m_DelFile, QKeySequence(Qt::Key_Delete)},
        {m_ReLoad, QKeySequence(Qt::Key_F5)},
    };
    for (const auto& [action, keys] : shortcuts) {
        action->setShortcut(keys);
        action->setShortcutContext(Qt::WidgetShortcut);
    }
}

void Frm_Main::buildControls() {
    client = new QWidget(this);
    client->setObjectName(QStringLiteral("client"));
    setCentralWidget(client);
    client->installEventFilter(this);

    picToolbar = new QWidget(client);
    picToolbar->setObjectName(QStringLiteral("picToolbar"));
    picToolbar->setGeometry(0, 0, 700, 27);

    const QFont fixedFont(kFixedFont, 9);
    profileCaption = new QLabel(QStringLiteral("設定名"), client);
    profileCaption->setObjectName(QStringLiteral("Label1"));
    profileCaption->setFont(fixedFont);
    profileCaption->setGeometry(16, 32, 65, 17);
    modeCaption = new QLabel(QStringLiteral("転送モード"), client);
    modeCaption->setObjectName(QStringLiteral("Label2"));
    modeCaption->setFont(fixedFont);
    modeCaption->setGeometry(184, 32, 73, 17);

    constexpr int kComboHeight = 22;
    cmb = new QComboBox(client);
    cmb->setObjectName(QStringLiteral("cmb"));
    cmb->setGeometry(8, 48, 161, kComboHeight);
    Cmb_Trs = new QComboBox(client);
    Cmb_Trs->setObjectName(QStringLiteral("Cmb_Trs"));
    Cmb_Trs->addItems(
        {QStringLiteral("自動判別"), QStringLiteral("アスキー"), QStringLiteral("バイナリ")});
    Cmb_Trs->setGeometry(176, 48, 130, kComboHeight);

    auto makeButton = [this](const QString& text, int left) {
        auto* button = new QPushButton(text, client);
        button->setGeometry(left, 32, 73, 33);
        return button;
    };
    Btn_Con = makeButton(QStringLiteral("接続"), 448);
    Btn_User = makeButton(QStringLiteral("設定"), 528);
    Btn_Ftp = makeButton(QStringLiteral("詳細設定"), 608);

    for (int side : {kLocalPane, kHostPane}) {
        panes_[side] = std::make_unique<Pane>(side, client, this);
    }
    mounts_ = ListMountPoints();
    pane(kLocalPane).addDriveBox(mounts_);

    const images::Image transferImages[2] = {images::Image::SendRight, images::Image::ReceiveLeft};
    const QString transferTips[2] = {QStringLiteral("アップロード"),
                                     QStringLiteral("ダウンロード")};
    for (int i = 0; i < 2; ++i) {
        Btn_Trs[i] = new QToolButton(client);
        Btn_Trs[i]->setObjectName(QStringLiteral("Btn_Trs%1").arg(i));
        Btn_Trs[i]->setIcon(images::icon(transferImages[i]));
        Btn_Trs[i]->setIconSize(QSize(32, 32));
        Btn_Trs[i]->setToolTip(transferTips[i]);
        Btn_Trs[i]->setGeometry(312, i == 0 ? 136 : 184, 49, 41);
    }

    StatList = new StatusListBox(client);
    StatList->setObjectName(QStringLiteral("StatList"));
    StatList->setFont(fixedFont);
    StatList->setGeometry(0, 344, 697, 68);
}

void Frm_Main::buildToolbar() {
    using images::Image;
    auto pair = [this](Image image, int left, const QString& tip, std::function<void()> command) {
        return std::make_unique<ImagePair>(picToolbar, images::icon(image), left, tip,
                                           std::move(command));
    };
    auto connectToggle = [this]() { runCommand([this]() { Btn_Con_Click(); }); };
    imgConnecttButton = pair(Image::Connect, 0, QStringLiteral("接続"), connectToggle);
    imgCutButton = pair(Image::Disconnect, 24, QStringLiteral("切断"), connectToggle);
    imgMakeButton = pair(Image::NewFolder, 80, QStringLiteral("新しいフォルダ"),
                         [this]() { runCommand([this]() { m_MakeFolder_Click(); }); });
    imgDelButton = pair(Image::Delete, 104, QStringLiteral("削除"),
                        [this]() { runCommand([this]() { m_DelFile_Click(); }); });
    imgDounButtonUp = pair(Image::Download, 160, QStringLiteral("ダウンロード"),
                           [this]() { runCommand([this]() { Btn_Trs_Click(1); }); });
    imgUpButtonUp = pair(Image::Upload, 184, QStringLiteral("アップロード"),
                         [this]() { runCommand([this]() { Btn_Trs_Click(0); }); });
    imgSettingButtonUp = pair(Image::Settings, 248, QStringLiteral("設定"),
                              [this]() { runCommand([this]() { Btn_User_Click(); }); });
    const std::array<ImagePair*, 7> pairs = {
        imgConnecttButton.get(), imgCutButton.get(),  imgMakeButton.get(),     imgDelButton.get(),
        imgDounButtonUp.get(),   imgUpButtonUp.get(), imgSettingButtonUp.get()};
    const char* names[7] = {"imgConnecttButton", "imgCutButton",    "imgMakeButton",
                            "imgDelButton",      "imgDounButtonUp", "imgUpButtonUp",
                            "imgSettingButtonUp"};
    for (int i = 0; i < 7; ++i) {
        for (int e = 0; e < 2; ++e) {
            pairs[i]->element(e)->setObjectName(QStringLiteral("%1%2").arg(names[i]).arg(e));
        }
    }
}

} // namespace oxlip
