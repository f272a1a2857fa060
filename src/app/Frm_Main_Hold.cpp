// Holding the connection: reconnecting a session whose control connection was lost, and
// running the command again on the new one.

#include "app/Frm_Main.h"

#include "app/ProfileConnection.h"
#include "dialogs/Modal.h"
#include "ftp/RemoteDir.h"

namespace oxlip {

bool Frm_Main::connectionLost() const {
    return session_.connected() && session_.client()->lost();
}

void Frm_Main::runHeld(const std::function<void()>& command) {
    reconnected_ = false;
    answers_.clear();
    answered_ = 0;
    command();
    if (!reconnected_ && connectionLost() && reconnect()) {
        answered_ = 0;
        command();
    }
    answers_.clear();
}

bool Frm_Main::heldStep(const std::function<bool()>& step) {
    if (step()) {
        return true;
    }
    return !reconnected_ && connectionLost() && reconnect() && step();
}

ui::MsgResult Frm_Main::ask(const QString& text, ui::MsgIcon icon, ui::MsgButtons buttons) {
    if (answered_ < answers_.size() && answers_[answered_].first == text) {
        return answers_[answered_++].second;
    }
    const ui::MsgResult answer = ui::ShowMessage(this, text, icon, buttons);
    answers_.resize(answered_);
    answers_.emplace_back(text, answer);
    answered_ = answers_.size();
    return answer;
}

bool Frm_Main::reconnect() {
    reconnected_ = true;
    ConnectionProfile& profile = settings_.profile;
    const std::string folder = ShownFolder(kHostPane);
    StatList->appendLine(QStringLiteral("接続が切れたため、再接続します。"));
    if (!OpenProfileSession(session_, settings_, *security_)) {
        CloseSession(session_);
        profile.LastPathHost = folder;
        ShowDisconnectedState();
        ui::ShowMessage(this,
                        QString::fromStdString(profile.Server) +
                            QStringLiteral(" へ接続出来ませんでした"),
                        ui::MsgIcon::Critical, ui::MsgButtons::Ok);
        StatList->appendLine(QString(38, QLatin1Char('-')));
        return false;
    }
    if (!folder.empty()) {
        (void)HostCurrentDirectory(session_, folder);
    }
    return true;
}

} // namespace oxlip
