// Holding the connection: reconnecting a session whose control connection was lost.

#include "app/Frm_Main.h"

#include "app/ProfileConnection.h"
#include "dialogs/Modal.h"
#include "ftp/RemoteDir.h"

namespace oxlip {

bool Frm_Main::connectionLost() const {
    return session_.connected() && session_.client()->lost();
}

bool Frm_Main::reconnect() {
    reconnected_ = true;
    ConnectionProfile& profile = settings_.profile;
    const std::string folder = ShownFolder(kHostPane);
    StatList->appendLine(QStringLiteral("接続が切れたため、再接続します。"));
    if (!OpenProfileSession(session_, settings_, this)) {
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
