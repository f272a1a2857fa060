#include "dialogs/DialogUi.h"
#include "dialogs/Dialogs.h"
#include "dialogs/Modal.h"

#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpressionValidator>

#include <algorithm>
#include <optional>

namespace oxlip {

namespace {

QString FromUtf8(const std::string& text) {
    return QString::fromStdString(text);
}

std::string ToUtf8(const QString& text) {
    return text.toStdString();
}

bool HasLineBreak(const QString& text) {
    return text.contains(QLatin1Char('\r')) || text.contains(QLatin1Char('\n')) ||
           text.contains(QChar(0));
}

QLabel* MakeLabel(QWidget* parent, const QString& name, const QString& caption) {
    auto* label = new QLabel(caption, parent);
    label->setObjectName(name);
    return label;
}

QPushButton* MakeButton(QWidget* parent, const QString& name, const QString& caption) {
    auto* button = new QPushButton(caption, parent);
    button->setObjectName(name);
    button->setAutoDefault(false);
    return button;
}

// A box for a number of up to five digits.
QLineEdit* MakeNumberBox(QWidget* parent, const QString& name) {
    auto* box = new QLineEdit(parent);
    box->setObjectName(name);
    box->setMaxLength(5);
    box->setValidator(
        new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), box));
    return box;
}

QComboBox* MakeChoice(QWidget* parent, const QString& name, const QStringList& items) {
    auto* combo = new QComboBox(parent);
    combo->setObjectName(name);
    combo->addItems(items);
    return combo;
}

// The number in a box when it is one within the bounds.
std::optional<int> BoxNumber(const QLineEdit* box, int low, int high) {
    bool ok = false;
    const int value = box->text().toInt(&ok);
    if (!ok || value < low || value > high) {
        return std::nullopt;
    }
    return value;
}

} // namespace

Frm_User::Frm_User(Settings& settings, QWidget* parent) : QDialog(parent), settings_(settings) {
    ui::SetUpDialog(this, QStringLiteral("Frm_User"), QStringLiteral("接続設定"), 10725, 5190);

    nameFrame = new QGroupBox(QStringLiteral("設定名"), this);
    nameFrame->setObjectName(QStringLiteral("Frame1"));
    ui::PlaceTwips(nameFrame, 120, 120, 3855, 615);
    connectionFrame = new QGroupBox(QStringLiteral("接続設定"), this);
    connectionFrame->setObjectName(QStringLiteral("Frame2"));
    ui::PlaceTwips(connectionFrame, 120, 840, 3855, 3735);
    profileListFrame = new QGroupBox(QStringLiteral("設定一覧"), this);
    profileListFrame->setObjectName(QStringLiteral("Frame3"));
    ui::PlaceTwips(profileListFrame, 4080, 120, 2535, 4935);

    for (int i = 0; i < 6; ++i) {
        fields[i] = new QLineEdit(i == 0 ? nameFrame : connectionFrame);
        fields[i]->setObjectName(QStringLiteral("txt_%1").arg(i));
    }
    fields[Password]->setEchoMode(QLineEdit::Password);
    fields[Password]->setStyleSheet(QStringLiteral("lineedit-password-character: 42;")); // "*"
    ui::PlaceTwips(fields[ProfileName], 120, 240, 3375, 270);
    ui::PlaceTwips(fields[Server], 120, 480, 3375, 270);
    ui::PlaceTwips(fields[User], 120, 1200, 3375, 270);
    ui::PlaceTwips(fields[Password], 120, 1920, 3375, 270);
    ui::PlaceTwips(fields[HostFolder], 120, 2640, 3375, 270);
    // One pixel narrower than designed so that it ends where the "...." button begins.
    ui::PlaceTwips(fields[LocalFolder], 120, 3360, 3360, 270);

    // The labels end where their boxes begin (the designed 255 twips would overlap them).
    serverCaption =
        MakeLabel(connectionFrame, QStringLiteral("Label1"), QStringLiteral("接続先サーバ"));
    ui::PlaceTwips(serverCaption, 120, 240, 1335, 240);
    userCaption = MakeLabel(connectionFrame, QStringLiteral("Label2"), QStringLiteral("ユーザ名"));
    ui::PlaceTwips(userCaption, 120, 960, 1215, 240);
    passwordCaption =
        MakeLabel(connectionFrame, QStringLiteral("Label3"), QStringLiteral("パスワード"));
    ui::PlaceTwips(passwordCaption, 120, 1680, 1335, 240);
    hostFolderCaption = MakeLabel(connectionFrame, QStringLiteral("Label4_0"),
                                  QStringLiteral("ホストの初期フォルダ"));
    ui::PlaceTwips(hostFolderCaption, 120, 2400, 2055, 240);
    localFolderCaption = MakeLabel(connectionFrame, QStringLiteral("Label4_1"),
                                   QStringLiteral("ローカルの初期フォルダ"));
    ui::PlaceTwips(localFolderCaption, 120, 3120, 2055, 240);

    browseButton = MakeButton(connectionFrame, QStringLiteral("Command1"), QStringLiteral("...."));
    ui::PlaceTwips(browseButton, 3480, 3360, 255, 255);

    List = new QListWidget(profileListFrame);
    List->setObjectName(QStringLiteral("List"));
    List->setSelectionMode(QAbstractItemView::SingleSelection);
    ui::PlaceTwips(List, 120, 360, 2295, 3960);
    Btn_Set[0] =
        MakeButton(profileListFrame, QStringLiteral("Btn_Set_0"), QStringLiteral("新規設定"));
    ui::PlaceTwips(Btn_Set[0], 120, 4440, 1095, 375);
    Btn_Set[1] =
        MakeButton(profileListFrame, QStringLiteral("Btn_Set_1"), QStringLiteral("設定削除"));
    ui::PlaceTwips(Btn_Set[1], 1320, 4440, 1095, 375);

    Btn[0] = MakeButton(this, QStringLiteral("Btn_0"), QStringLiteral("OK"));
    ui::PlaceTwips(Btn[0], 240, 4680, 1095, 375);
    Btn[0]->setDefault(true);
    Btn[1] = MakeButton(this, QStringLiteral("Btn_1"), QStringLiteral("キャンセル"));
    ui::PlaceTwips(Btn[1], 1440, 4680, 1095, 375);
    Btn[2] = MakeButton(this, QStringLiteral("Btn_2"), QStringLiteral("クリア"));
    ui::PlaceTwips(Btn[2], 2640, 4680, 1095, 375);

    CreateOptionControls();

    // Tab order follows the boxes from top to bottom, the options, then the list and the
    // buttons.
    QWidget* order[] = {fields[ProfileName],
                        fields[Server],
                        fields[User],
                        fields[Password],
                        fields[HostFolder],
                        fields[LocalFolder],
                        browseButton,
                        cmb_tls,
                        txt_port,
                        opt_mode[0],
                        opt_mode[1],
                        cmb_code,
                        txt_keepalive,
                        List,
                        Btn[0],
                        Btn[1],
                        Btn[2],
                        Btn_Set[0],
                        Btn_Set[1]};
    for (size_t i = 1; i < std::size(order); ++i) {
        setTabOrder(order[i - 1], order[i]);
    }

    ShowProfile();
    FillSettingList();

    // Any change of the chosen entry, by the user or by the program, loads that profile.
    connect(List, &QListWidget::itemSelectionChanged, this, &Frm_User::List_Click);
    for (int i = 0; i < 3; ++i) {
        connect(Btn[i], &QPushButton::clicked, this, [this, i] { Btn_Click(i); });
    }
    for (int i = 0; i < 2; ++i) {
        connect(Btn_Set[i], &QPushButton::clicked, this, [this, i] { Btn_Set_Click(i); });
    }
    connect(browseButton, &QPushButton::clicked, this, &Frm_User::Command1_Click);
    fields[ProfileName]->setFocus();
}

// The options are a column of their own to the right of the list, laid out as the
// connection boxes are: a caption, the control below it.
void Frm_User::CreateOptionControls() {
    optionsFrame = new QGroupBox(QStringLiteral("接続"), this);
    optionsFrame->setObjectName(QStringLiteral("Frame4"));
    ui::PlaceTwips(optionsFrame, 6720, 120, 3855, 4935);

    const QString captions[5] = {QStringLiteral("暗号化"), QStringLiteral("ポート"),
                                 QStringLiteral("接続モード"), QStringLiteral("文字コード"),
                                 QStringLiteral("キープアライブ (秒)")};
    for (int i = 0; i < 5; ++i) {
        optionCaptions[i] =
            MakeLabel(optionsFrame, QStringLiteral("Label5_%1").arg(i), captions[i]);
        ui::PlaceTwips(optionCaptions[i], 120, 240 + 720 * i, 2055, 240);
    }

    cmb_tls = MakeChoice(optionsFrame, QStringLiteral("cmb_tls"),
                         {QStringLiteral("明示的な FTP over TLS が使えれば使う"),
                          QStringLiteral("明示的な FTP over TLS が必要"),
                          QStringLiteral("暗黙の FTP over TLS"),
                          QStringLiteral("暗号化しない (安全ではありません)")});
    cmb_code = MakeChoice(optionsFrame, QStringLiteral("cmb_code"),
                          {QStringLiteral("自動"), QStringLiteral("UTF-8"),
                           QStringLiteral("Shift_JIS (CP932)"), QStringLiteral("EUC-JP")});
    // A drop-down list is as high as the style makes it, from the top of its place.
    const std::pair<QComboBox*, int> combos[] = {{cmb_tls, 480}, {cmb_code, 2640}};
    for (const auto& [combo, top] : combos) {
        const QRect place = ui::TwipsRect(120, top, 3615, 270);
        combo->setGeometry(place.left(), place.top(), place.width(), combo->sizeHint().height());
    }

    txt_port = MakeNumberBox(optionsFrame, QStringLiteral("txt_port"));
    ui::PlaceTwips(txt_port, 120, 1200, 1095, 270);
    opt_mode[0] = new QRadioButton(QStringLiteral("パッシブ"), optionsFrame);
    opt_mode[0]->setObjectName(QStringLiteral("opt_mode_0"));
    ui::PlaceTwips(opt_mode[0], 120, 1920, 1215, 270);
    opt_mode[1] = new QRadioButton(QStringLiteral("アクティブ"), optionsFrame);
    opt_mode[1]->setObjectName(QStringLiteral("opt_mode_1"));
    ui::PlaceTwips(opt_mode[1], 1440, 1920, 1455, 270);
    txt_keepalive = MakeNumberBox(optionsFrame, QStringLiteral("txt_keepalive"));
    ui::PlaceTwips(txt_keepalive, 120, 3360, 1095, 270);

    // An empty port box means the default port of the encryption chosen, shown greyed.
    connect(cmb_tls, &QComboBox::currentIndexChanged, this, [this](int index) {
        txt_port->setPlaceholderText(
            QString::number(index == EncryptImplicit ? kDefaultImplicitTlsPort : kDefaultFtpPort));
    });
}

void Frm_User::ShowOptions(const ConnectionProfile& p) {
    cmb_tls->setCurrentIndex(-1); // the placeholder follows even when the index stays
    cmb_tls->setCurrentIndex(std::clamp(p.Encryption, 0, cmb_tls->count() - 1));
    txt_port->setText(p.Port > 0 ? QString::number(p.Port) : QString());
    opt_mode[p.Passive ? 0 : 1]->setChecked(true);
    cmb_code->setCurrentIndex(std::clamp(p.NameEncoding, 0, cmb_code->count() - 1));
    txt_keepalive->setText(QString::number(p.KeepAlive));
}

void Frm_User::ShowProfile() {
    const ConnectionProfile& p = settings_.profile;
    fields[ProfileName]->setText(FromUtf8(p.ProfileName));
    fields[Server]->setText(FromUtf8(p.Server));
    fields[User]->setText(FromUtf8(p.UserName));
    fields[Password]->setText(FromUtf8(p.PassWord));
    fields[HostFolder]->setText(FromUtf8(p.Dir));
    fields[LocalFolder]->setText(FromUtf8(p.LDir));
    ShowOptions(p);
}

void Frm_User::ClearConnectionBoxes() {
    fields[Server]->clear();
    fields[User]->clear();
    fields[Password]->clear();
    fields[HostFolder]->setText(QStringLiteral("/"));
    ShowOptions(ConnectionProfile{});
}

void Frm_User::FillSettingList() {
    bool exists = false;
    const std::vector<std::string> names = settings_.ProfileNames(&exists);
    if (!exists) {
        return;
    }
    const QSignalBlocker blocker(List);
    List->clear();
    for (const std::string& name : names) {
        List->addItem(FromUtf8(name));
    }
    List->setCurrentRow(-1);
    List->clearSelection();
}

void Frm_User::List_Click() {
    const QList<QListWidgetItem*> selected = List->selectedItems();
    if (selected.isEmpty()) {
        return;
    }
    settings_.profile.ProfileName = ToUtf8(selected.first()->text());
    settings_.LoadProfile();
    ShowProfile();
}

void Frm_User::Btn_Set_Click(int index) {
    if (index == 0) {
        fields[ProfileName]->setText(QStringLiteral("新しい接続"));
        ClearConnectionBoxes();
        fields[ProfileName]->setFocus();
        return;
    }
    const int row = List->currentRow();
    QListWidgetItem* item = row >= 0 ? List->item(row) : nullptr;
    if (!item || !item->isSelected()) {
        return;
    }
    // A deleted current profile is current no more, so that nothing writes it back; the
    // boxes keep their text.
    if (!settings_.DeleteProfile(ToUtf8(item->text()))) {
        // The file is still there with the profile in it: keep the entry.
        ui::ShowMessage(this, QStringLiteral("設定を削除できませんでした"), ui::MsgIcon::Critical,
                        ui::MsgButtons::Ok);
        return;
    }
    {
        // Removing the row must not load the entry that slides into its place.
        const QSignalBlocker blocker(List);
        delete List->takeItem(row);
        List->setCurrentRow(-1);
        List->clearSelection();
    }
    if (row > 0) {
        List->setCurrentRow(row - 1);
    }
}

void Frm_User::Btn_Click(int index) {
    switch (index) {
    case 0:
        StoreAndClose();
        break;
    case 1:
        reject();
        break;
    case 2:
        ClearConnectionBoxes();
        fields[Server]->setFocus();
        break;
    default:
        break;
    }
}

void Frm_User::Command1_Click() {
    Frm_Dir chooser(this);
    chooser.SelectedFolder.clear();
    ui::ExecDialog(&chooser);
    if (!chooser.SelectedFolder.isEmpty()) {
        fields[LocalFolder]->setText(chooser.SelectedFolder);
    }
}

bool Frm_User::CheckBoxesStorable() {
    if (fields[ProfileName]->text().isEmpty() || fields[Server]->text().isEmpty()) {
        ui::ShowMessage(
            this, QStringLiteral("入力必須箇所が埋まっていません\r\n登録名とサーバ名は必須です"),
            ui::MsgIcon::Critical, ui::MsgButtons::Ok);
        return false;
    }
    // The name becomes a section header line of User.ini: a "]" or a line break in it would
    // write a section that reads back under another name, and a line break in any value
    // would split its line.
    const QString name = fields[ProfileName]->text();
    if (name.contains(QLatin1Char(']')) || HasLineBreak(name)) {
        ui::ShowMessage(
            this, QStringLiteral("設定名に「]」や改行は使えません\r\n設定名を変更してください"),
            ui::MsgIcon::Critical, ui::MsgButtons::Ok);
        fields[ProfileName]->setFocus();
        return false;
    }
    for (int i = 1; i < 6; ++i) {
        if (HasLineBreak(fields[i]->text())) {
            ui::ShowMessage(this,
                            QStringLiteral("改行を含む項目は保存できません\r\n"
                                           "改行を取り除いてください"),
                            ui::MsgIcon::Critical, ui::MsgButtons::Ok);
            fields[i]->setFocus();
            return false;
        }
    }
    return CheckOptionsStorable();
}

bool Frm_User::CheckOptionsStorable() {
    if (!txt_port->text().isEmpty() && !BoxNumber(txt_port, 1, 65535)) {
        ui::ShowMessage(this,
                        QStringLiteral("ポート番号は 1 から 65535 までの数字で入力してください\r\n"
                                       "空欄にすると標準のポートを使います"),
                        ui::MsgIcon::Critical, ui::MsgButtons::Ok);
        txt_port->setFocus();
        return false;
    }
    if (!BoxNumber(txt_keepalive, 0, kMaxKeepAliveSeconds)) {
        ui::ShowMessage(
            this,
            QStringLiteral("キープアライブの間隔は 0 から %1 までの秒数で入力してください"
                           "\r\n0 にすると送りません")
                .arg(kMaxKeepAliveSeconds),
            ui::MsgIcon::Critical, ui::MsgButtons::Ok);
        txt_keepalive->setFocus();
        return false;
    }
    return true;
}

void Frm_User::StoreAndClose() {
    if (!CheckBoxesStorable()) {
        return;
    }
    ConnectionProfile& p = settings_.profile;
    p.ProfileName = ToUtf8(fields[ProfileName]->text());
    p.Server = ToUtf8(fields[Server]->text());
    p.UserName = ToUtf8(fields[User]->text());
    p.PassWord = ToUtf8(fields[Password]->text());

    const QString slash = QStringLiteral("/");
    if (!fields[HostFolder]->text().trimmed().isEmpty()) {
        if (!fields[HostFolder]->text().endsWith(slash)) {
            fields[HostFolder]->setText(fields[HostFolder]->text() + slash);
        }
    } else {
        fields[HostFolder]->setText(slash);
    }
    p.Dir = ToUtf8(fields[HostFolder]->text());

    if (!fields[LocalFolder]->text().trimmed().isEmpty() &&
        !fields[LocalFolder]->text().endsWith(slash)) {
        fields[LocalFolder]->setText(fields[LocalFolder]->text() + slash);
    }
    p.LDir = ToUtf8(fields[LocalFolder]->text());

    p.Encryption = cmb_tls->currentIndex();
    p.Port = BoxNumber(txt_port, 1, 65535).value_or(0);
    p.Passive = opt_mode[0]->isChecked();
    p.NameEncoding = cmb_code->currentIndex();
    p.KeepAlive =
        BoxNumber(txt_keepalive, 0, kMaxKeepAliveSeconds).value_or(kDefaultKeepAliveSeconds);

    p.TransMode = 0; // automatic
    p.LastPathHost.clear();
    if (!settings_.SaveProfile()) {
        ui::ShowMessage(this,
                        QStringLiteral("接続設定を保存できませんでした\r\n"
                                       "設定ファイルの保存先を確認してください"),
                        ui::MsgIcon::Critical, ui::MsgButtons::Ok);
    }
    accept();
}

} // namespace oxlip
