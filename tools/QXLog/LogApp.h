// The log program's window and its side of the channel:
//  - a window listing every record with its time and level (failures in red), which stays hidden
//    when started with --hidden (the main program starts it so unless QXMOVIEDISC_SHOW_LOG=1);
//  - a message window that takes the 1028-byte records, appends each line to the log file and
//    shows it;
//  - "QXLogAppInitEvent" signalled once both windows exist, "QXMOVIEDISCLogAppEndEvent" signalled
//    when the level-2 record ("Abort Normal") arrives, after which the program ends;
//  - it also ends when the program that started it has gone away without the end record.
#pragma once

#include "LogFile.h"
#include "LogLine.h"
#include "MessageWindow.h"
#include "NamedEvent.h"

#include <QTimer>
#include <QWidget>

#include <cstdint>
#include <string>
#include <sys/types.h>

class QTreeWidget;

namespace qxlog {

struct Options {
    bool hidden = false;
    std::string logFile; // empty: DefaultLogFilePath()
    bool watchParent = true;
    int maxRows = 20000; // the window keeps the newest rows; the file keeps all
};

// Parses the command line: --hidden, --log-file PATH, --no-parent-watch, --help. False with a
// message for anything else.
bool ParseOptions(int argc, char** argv, Options& out, std::string& message);

class LogWindow : public QWidget {
    Q_OBJECT
public:
    explicit LogWindow(const Options& options, QWidget* parent = nullptr);
    ~LogWindow() override;

    // Creates the message window, opens the log file and the events, signals the init event.
    // False only when the message window cannot be made (the program cannot work at all).
    bool Start(std::string* error = nullptr);

    // Handles one copy-data message; 1 when taken, 0 when refused.
    int64_t HandleCopyData(const qx::CopyDataMessage& message);
    // Shows and stores one line.
    void AddLine(int32_t level, const std::string& text);

    QTreeWidget* List() const { return m_pList; }
    const LogFile& File() const { return m_file; }
    qx::WindowHandle Handle() const { return m_window.handle(); }
    bool EndRequested() const { return m_bEndRequested; }
    uint64_t RecordCount() const { return m_nRecords; }

signals:
    void endRequested();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void CheckParent();

    Options m_options;
    QTreeWidget* m_pList = nullptr;
    LogFile m_file;
    qx::MessageWindow m_window;
    qx::NamedEvent m_initEvent;
    qx::NamedEvent m_endEvent;
    QTimer m_parentTimer;
    pid_t m_parent = 0;
    bool m_bEndRequested = false;
    uint64_t m_nRecords = 0;
};

// The whole program: options, window, event loop. Returns the exit code.
int RunLogApp(int argc, char** argv);

} // namespace qxlog
