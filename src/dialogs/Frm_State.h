#pragma once
// The progress window shown while a command moves or deletes files: the item, the transfer
// type, a bar in the highlight colour and the byte counts.

#include "ftp/UiPorts.h"

#include <QDialog>

#include <array>

class QLabel;

namespace oxlip {

// The bar: filled from the left edge to done / expected of its width, never shrinking until
// it is cleared.
class ProgressBarBox : public QWidget {
    Q_OBJECT
public:
    explicit ProgressBarBox(QWidget* parent = nullptr);
    void clear();
    void grow(int64_t done, int64_t expected);
    int filledWidth() const { return filled_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    int filled_ = 0;
};

class Frm_State : public QDialog, public ProgressView {
    Q_OBJECT
public:
    explicit Frm_State(QWidget* parent = nullptr);

    void setItemText(const std::string& text) override;
    void setModeText(const std::string& text) override;
    void clearBar() override;
    void setBar(int64_t done, int64_t expected) override;
    void setCountText(const std::string& text) override;

    std::array<QLabel*, 3> Lbl{};
    ProgressBarBox* Prog = nullptr;
};

} // namespace oxlip
