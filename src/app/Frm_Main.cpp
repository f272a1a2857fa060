#include "app/Frm_Main.h"

namespace oxlip {

Frm_Main::Frm_Main(QWidget* parent) : QMainWindow(parent) {
    setWindowTitle(QStringLiteral("Oxlip"));
    resize(708, 386);
}

} // namespace oxlip
