#include "LogApp.h"

#include "Folders.h"
#include "NumericLocale.h"
#include "QuitOnSignal.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDateTime>
#include <QHeaderView>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <cstdio>
#include <cstring>
#include <unistd.h>

namespace qxlog {

namespace {
const char* const kInitEvent = "QXLogAppInitEvent";
const char* const kEndEvent = "QXMOVIEDISCLogAppEndEvent";
const char* const kUsage = "usage: QXLog [--hidden] [--log-file PATH] [--no-parent-watch]\n"
                           "Shows and stores the job log of QX Movie Disc. Normally started by the program itself.\n";
} // namespace

bool ParseOptions(int argc, char** argv, Options& out, std::string& message) {
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--hidden") {
            out.hidden = true;
        } else if (a == "--no-parent-watch") {
            out.watchParent = false;
        } else if (a == "--log-file") {
            if (i + 1 >= argc || argv[i + 1][0] == '\0') {
                message = "QXLog: --log-file needs a path\n" + std::string(kUsage);
                return false;
            }
            out.logFile = argv[++i];
        } else if (a == "--help" || a == "-h") {
            message = kUsage;
            return false;
        } else {
            message = "QXLog: unknown option '" + a + "'\n" + kUsage;
            return false;
        }
    }
    return true;
}

LogWindow::LogWindow(const Options& options, QWidget* parent) : QWidget(parent), m_options(options) {
    setObjectName(QStringLiteral("QXLogWindow"));
    setWindowTitle(QStringLiteral("QX Movie Disc Log"));
    m_pList = new QTreeWidget(this);
    m_pList->setObjectName(QStringLiteral("LogList"));
    m_pList->setColumnCount(3);
    m_pList->setHeaderLabels({QStringLiteral("Time"), QStringLiteral("Level"), QStringLiteral("Text")});
    m_pList->setRootIsDecorated(false);
    m_pList->setUniformRowHeights(true);
    m_pList->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_pList->header()->setStretchLastSection(true);
    m_pList->setColumnWidth(0, 110);
    m_pList->setColumnWidth(1, 50);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(4, 4, 4, 4);
    layout->addWidget(m_pList);
    resize(720, 320);
    connect(&m_parentTimer, &QTimer::timeout, this, &LogWindow::CheckParent);
}

LogWindow::~LogWindow() {
    m_window.Destroy();
}

bool LogWindow::Start(std::string* error) {
    const std::string path = m_options.logFile.empty() ? DefaultLogFilePath() : m_options.logFile;
    std::string fileError;
    if (!m_file.Open(path, &fileError))
        std::fprintf(stderr, "QXLog: %s\n", fileError.c_str());

    const qx::Status created = m_window.Create([this](const qx::CopyDataMessage& m) { return HandleCopyData(m); });
    if (!created) {
        if (error)
            *error = created.error();
        return false;
    }
    // Started by hand there are no events to signal; the window works all the same.
    m_initEvent.Open(kInitEvent);
    m_endEvent.Open(kEndEvent);
    if (m_options.watchParent) {
        m_parent = ::getppid();
        m_parentTimer.start(1000);
    }
    if (!m_options.hidden)
        show();
    if (m_initEvent.isOpen())
        m_initEvent.Set();
    return true;
}

int64_t LogWindow::HandleCopyData(const qx::CopyDataMessage& message) {
    Record record;
    std::string why;
    if (message.dwData != 0 || !DecodeRecord(message.data.data(), message.data.size(), record, &why)) {
        if (why.empty())
            why = "record with identifier " + std::to_string(message.dwData) + ", expected 0";
        AddLine(1, "QXLog: refused a " + why);
        return 0;
    }
    ++m_nRecords;
    AddLine(record.level, record.text);
    if (record.level == 2 && !m_bEndRequested) {
        m_bEndRequested = true;
        m_file.Close();
        if (m_endEvent.isOpen())
            m_endEvent.Set();
        emit endRequested();
    }
    return 1;
}

void LogWindow::AddLine(int32_t level, const std::string& text) {
    const QDateTime now = QDateTime::currentDateTime();
    const QString stamp = now.toString(QStringLiteral("yyyy-MM-dd hh:mm:ss.zzz"));
    const QString time = now.toString(QStringLiteral("hh:mm:ss.zzz"));
    if (m_file.isOpen() && !m_file.Append(FileLine(stamp.toStdString(), level, text)))
        std::fprintf(stderr, "QXLog: %s\n", m_file.lastError().c_str());

    auto* item =
        new QTreeWidgetItem({time, QString::fromStdString(LevelTag(level)), QString::fromStdString(DisplayText(text))});
    item->setToolTip(2, QString::fromStdString(DisplayText(text)));
    if (level == 1) {
        QFont bold = item->font(2);
        bold.setBold(true);
        for (int c = 0; c < 3; ++c) {
            item->setForeground(c, QColor(0xC0, 0x00, 0x00));
            item->setFont(c, bold);
        }
    } else if (level == 2) {
        for (int c = 0; c < 3; ++c)
            item->setForeground(c, QColor(0x70, 0x70, 0x70));
    }
    m_pList->addTopLevelItem(item);
    while (m_options.maxRows > 0 && m_pList->topLevelItemCount() > m_options.maxRows)
        delete m_pList->takeTopLevelItem(0);
    m_pList->scrollToItem(item);
}

void LogWindow::CheckParent() {
    if (::getppid() == m_parent)
        return;
    m_parentTimer.stop();
    AddLine(1, "QXLog: the program that started the log has ended without the end record\n");
    emit endRequested();
}

void LogWindow::closeEvent(QCloseEvent* event) {
    // While the main program talks to us, closing only hides the window; run by hand it ends.
    if (m_initEvent.isOpen() && !m_bEndRequested) {
        event->ignore();
        hide();
        return;
    }
    QWidget::closeEvent(event);
    emit endRequested();
}

int RunLogApp(int argc, char** argv) {
    Options options;
    std::string message;
    if (!ParseOptions(argc, argv, options, message)) {
        const bool help = message.rfind("usage:", 0) == 0;
        std::fputs(message.c_str(), help ? stdout : stderr);
        return help ? 0 : 2;
    }
    QApplication app(argc, argv);
    qx::UseLocaleIndependentNumbers();
    app.setQuitOnLastWindowClosed(false);
    LogWindow window(options);
    QObject::connect(&window, &LogWindow::endRequested, &app, &QCoreApplication::quit, Qt::QueuedConnection);
    std::string error;
    if (!window.Start(&error)) {
        std::fprintf(stderr, "QXLog: cannot create the message window: %s\n", error.c_str());
        return 1;
    }
    qx::QuitEventLoopOnTermination();
    return app.exec();
}

} // namespace qxlog
