#pragma once

#include <QMainWindow>

namespace oxlip {

class Frm_Main : public QMainWindow {
    Q_OBJECT
public:
    explicit Frm_Main(QWidget* parent = nullptr);
};

} // namespace oxlip
