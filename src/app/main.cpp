#include "app/Frm_Main.h"

#include <QApplication>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    oxlip::Frm_Main window;
    window.show();
    return app.exec();
}
