#pragma once
// The progress window shown while a command moves or deletes files: the item, the transfer
// type, a bar in the highlight colour, the byte counts and the button that cancels.

#include <QDialog>

#include <array>
#include <cstdint>
#include <string>

class QLabel;
class QPushButton;

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

class Frm_State : public QDialog {
    Q_OBJECT
public:
    explicit Frm_State(QWidget* parent = nullptr);

    void setItemText(const std::string& text); // first line
    void setModeText(const std::string& text); // second line
    void clearBar();                           // empty and show the bar
    void setBar(int64_t done, int64_t expected);
    void setCountText(const std::string& text); // "1,234KB / 5,678KB"

    std::array<QLabel*, 3> Lbl{};
    ProgressBarBox* Prog = nullptr;
    QPushButton* Btn_Cancel = nullptr; // キャンセル, also Esc; once only

signals:
    void cancelRequested();

protected:
    // Esc cancels the command; the window stays until the command has stopped.
    void reject() override;
};

} // namespace oxlip
