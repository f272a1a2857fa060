#pragma once
// The window's side of the core's interfaces: the status log list box, the event pump and
// the progress view that forwards to the current progress window.

#include "ftp/UiPorts.h"

#include <QListWidget>

#include <functional>

namespace oxlip {

// The status log at the bottom of the main window. Lines are only appended; once more than
// four are held, the newest line is kept in view.
class StatusListBox : public QListWidget, public StatusLog {
    Q_OBJECT
public:
    explicit StatusListBox(QWidget* parent = nullptr);
    void append(const std::string& line) override;
    void skipped(SkippedEntry why, const std::string& path) override;
    void appendLine(const QString& line);
    QStringList lines() const;
};

// Runs the Qt event loop once for the engine's waits and the commands. A pump called while
// pumping (from a handler that the outer pump runs) does nothing, so the stack never grows.
class QtEventPump : public EventPump {
public:
    void pump() override;
    bool pumping() const { return depth_ > 0; }

private:
    int depth_ = 0;
};

// Forwards every call to the progress view that `target` returns (the current progress
// window, created hidden when missing). A null target drops the calls.
class ProgressProxy : public ProgressView {
public:
    explicit ProgressProxy(std::function<ProgressView*()> target) : target_(std::move(target)) {}
    void setItemText(const std::string& text) override;
    void setModeText(const std::string& text) override;
    void clearBar() override;
    void setBar(int64_t done, int64_t expected) override;
    void setCountText(const std::string& text) override;

private:
    template <typename F> void forward(F&& call) {
        if (ProgressView* view = target_ ? target_() : nullptr) {
            call(*view);
        }
    }
    std::function<ProgressView*()> target_;
};

} // namespace oxlip
