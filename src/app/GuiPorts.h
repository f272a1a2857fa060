#pragma once
// The window's side of the core's interfaces: the status log list box, the event pump and the
// sink that words the core's events in the window's texts (the only place that holds them).

#include "ftp/UiPorts.h"

#include <QListWidget>

#include <functional>
#include <map>
#include <string>

namespace oxlip {

class Frm_State;

// The status log at the bottom of the main window. Lines are only appended; once more than
// four are held, the newest line is kept in view.
class StatusListBox : public QListWidget {
    Q_OBJECT
public:
    explicit StatusListBox(QWidget* parent = nullptr);
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

// "1,234KB / 5,678KB": counts in whole kilobytes, rounded; a value below one half is empty.
QString FormatProgressCounts(int64_t done, int64_t expected);

// The log line of an event.
QString LogLine(const LogEvent& event);
// A tree's file over several connections as it starts: "[3]
// ←ファイルをダウンロード中・・・・a.txt".
QString TreeFileLine(const ProgressEvent& event);
// A tree's figures: "12 / 400 ファイル　1,234KB / 5,678KB".
QString TreeCounts(const ProgressEvent& tree);

// Words the core's events: log events as lines of the status log, progress in the progress
// window that `progress` returns (created hidden when missing; null drops the event). A tree
// over several connections logs a numbered line for each file as it starts; the progress
// window shows the tree's files and bytes and the names of the files moving.
class WindowSink : public EventSink {
public:
    WindowSink(std::function<StatusListBox*()> log, std::function<Frm_State*()> progress,
               QtEventPump& pump)
        : log_(std::move(log)), progress_(std::move(progress)), pump_(pump) {}
    void log(const LogEvent& event) override;
    void progress(const ProgressEvent& event) override;
    void pump() override { pump_.pump(); }

private:
    void treeFile(Frm_State* view, const ProgressEvent& event);
    void showMoving(Frm_State* view);
    std::function<StatusListBox*()> log_;
    std::function<Frm_State*()> progress_;
    QtEventPump& pump_;
    std::map<int, std::string> moving_; // a tree's files moving now, by number
    bool receiving_ = true;
};

} // namespace oxlip
