#include "app/GuiPorts.h"

#include "dialogs/Frm_State.h"

#include <QCoreApplication>
#include <QLabel>

namespace oxlip {

StatusListBox::StatusListBox(QWidget* parent) : QListWidget(parent) {
    setSelectionMode(QAbstractItemView::SingleSelection);
    setUniformItemSizes(true);
}

void StatusListBox::appendLine(const QString& line) {
    addItem(line);
    if (count() > 4) {
        scrollToBottom();
    }
}

QStringList StatusListBox::lines() const {
    QStringList out;
    out.reserve(count());
    for (int i = 0; i < count(); ++i) {
        out << item(i)->text();
    }
    return out;
}

void QtEventPump::pump() {
    if (depth_ > 0) {
        return;
    }
    ++depth_;
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    --depth_;
}

namespace {

// Whole kilobytes, rounded half up, grouped by thousands; below one half gives "".
QString KilobyteText(int64_t bytes) {
    if (bytes < 512) {
        return QString();
    }
    const QString digits = QString::number((bytes + 512) / 1024);
    QString out;
    const qsizetype n = digits.size();
    for (qsizetype i = 0; i < n; ++i) {
        if (i > 0 && (n - i) % 3 == 0) {
            out += QLatin1Char(',');
        }
        out += digits[i];
    }
    return out;
}

} // namespace

QString FormatProgressCounts(int64_t done, int64_t expected) {
    return KilobyteText(done) + QStringLiteral("KB / ") + KilobyteText(expected) +
           QStringLiteral("KB");
}

QString LogLine(const LogEvent& event) {
    const QString subject = QString::fromStdString(event.subject);
    switch (event.kind) {
    case LogKind::Connecting:
        return QStringLiteral("ホスト　") + subject + QStringLiteral("に接続しています。");
    case LogKind::Connected:
        return QStringLiteral("接続しました。");
    case LogKind::TlsEstablished:
        return subject + QStringLiteral(" (") + QString::fromStdString(event.detail) +
               QStringLiteral(") で暗号化しました");
    case LogKind::TlsFellBack:
        return QStringLiteral("サーバが暗号化に対応していないため、暗号化せずに接続しました。");
    case LogKind::LoggingIn:
        return QStringLiteral("パスワード確認中");
    case LogKind::LoggedIn:
        return QStringLiteral("パスワード確認しました。");
    case LogKind::ConnectionLost:
        return QStringLiteral("サーバとの接続が切れました。");
    case LogKind::UnsafeNameSkipped:
        return QStringLiteral("×名前が安全でないため転送しませんでした・・・・") + subject;
    case LogKind::FailedLinkSkipped:
        return QStringLiteral("×リンクを転送できませんでした・・・・") + subject;
    case LogKind::FolderLinkSkipped:
        return QStringLiteral("フォルダへのリンクは転送しません・・・・") + subject;
    case LogKind::Cancelled:
        return QStringLiteral("キャンセルしました（") + subject +
               QStringLiteral(" 個のファイルを転送済み）");
    case LogKind::Reconnected:
        return QStringLiteral("再接続しました。");
    case LogKind::ExtraConnectionRefused:
        return QStringLiteral("追加の接続ができないため、接続済みの接続で転送を続けます・・・・") +
               subject;
    case LogKind::DataFellBack:
        return QStringLiteral("EPSV のデータ接続ができないため、PASV で接続します。");
    case LogKind::FinalReplyLost:
        return QStringLiteral("転送完了の応答がありませんが、サイズが一致したため受信したファイルを"
                              "保存しました・・・・") +
               subject;
    }
    return subject;
}

void WindowSink::log(const LogEvent& event) {
    if (StatusListBox* box = log_ ? log_() : nullptr) {
        box->appendLine(LogLine(event));
    }
}

namespace {

const char* ActionText(bool receiving) {
    return receiving ? " を受信中です..." : " を送信中です...";
}

const char* ModeText(TransferMode mode) {
    return mode == TransferMode::Ascii ? "転送モード アスキー" : "転送モード バイナリ";
}

} // namespace

QString TreeFileLine(const ProgressEvent& event) {
    const QString name = QString::fromStdString(event.name);
    return QStringLiteral("[%1] ").arg(event.file) +
           (event.phase == ProgressPhase::Receiving
                ? QStringLiteral("←ファイルをダウンロード中・・・・") + name
                : QStringLiteral("ファイルをアップロード中・・・・→") + name);
}

QString TreeCounts(const ProgressEvent& tree) {
    return QStringLiteral("%1 / %2 ファイル　").arg(tree.filesDone).arg(tree.files) +
           FormatProgressCounts(tree.done, tree.total);
}

// The files moving now, in the order they started, as far as the line holds them.
void WindowSink::showMoving(Frm_State* view) {
    QStringList names;
    for (const auto& [number, name] : moving_) {
        names << QString::fromStdString(name);
    }
    const QLabel* line = view->Lbl[0];
    const QString text =
        names.join(QStringLiteral("、")) + QString::fromUtf8(ActionText(receiving_));
    view->setItemText(
        line->fontMetrics().elidedText(text, Qt::ElideMiddle, line->width()).toStdString());
}

void WindowSink::treeFile(Frm_State* view, const ProgressEvent& event) {
    switch (event.phase) {
    case ProgressPhase::Receiving:
    case ProgressPhase::Sending:
        if (StatusListBox* box = log_ ? log_() : nullptr) {
            box->appendLine(TreeFileLine(event));
        }
        receiving_ = event.phase == ProgressPhase::Receiving;
        moving_[event.file] = event.name;
        showMoving(view);
        view->setModeText(ModeText(event.mode));
        break;
    case ProgressPhase::Tree:
        if (event.files == 1 && event.filesDone == 0) { // a new tree: its first file found
            moving_.clear();
            view->clearBar();
        }
        if (moving_.erase(event.file) > 0) {
            showMoving(view);
        }
        view->setBar(event.done, event.total);
        view->setCountText(TreeCounts(event).toStdString());
        break;
    default: // a file's own bar gives way to the tree's
        break;
    }
}

void WindowSink::progress(const ProgressEvent& event) {
    Frm_State* view = progress_ ? progress_() : nullptr;
    if (!view) {
        return;
    }
    if (event.file > 0 || event.phase == ProgressPhase::Tree) {
        treeFile(view, event);
        return;
    }
    switch (event.phase) {
    case ProgressPhase::Receiving:
    case ProgressPhase::Sending:
        view->setItemText(event.name + ActionText(event.phase == ProgressPhase::Receiving));
        view->setModeText(ModeText(event.mode));
        break;
    case ProgressPhase::Deleting:
        view->setItemText(event.name + " を削除中です...");
        break;
    case ProgressPhase::Started:
        view->clearBar();
        break;
    case ProgressPhase::Bytes:
        view->setBar(event.done, event.total);
        view->setCountText(FormatProgressCounts(event.done, event.total).toStdString());
        break;
    case ProgressPhase::Tree:
        break;
    }
}

} // namespace oxlip
