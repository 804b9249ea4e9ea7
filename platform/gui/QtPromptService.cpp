// Message boxes and file dialogs of Qt Widgets behind the prompt service.
#include "QtPromptService.h"

#include "OwnedWindow.h"

#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>
#include <QMetaObject>
#include <QThread>
#include <QTimer>

namespace qx {

namespace {

// Boxes and dialogs are placed over (and parented to) the window that owns them, if the owner is one.
QWidget* OwnerWindow(QObject* owner) {
    return qobject_cast<QWidget*>(owner);
}

QString QtFilterFrom(const std::string& filter) {
    QStringList entries;
    for (const FilterEntry& entry : ParseFileFilter(filter)) {
        // A native file dialog may compare names case-sensitively: offer the upper-case spelling
        // too ("*.rm *.RM"), which still reads well in the dialog's type list.
        QStringList globs;
        for (const std::string& p : entry.patterns) {
            const QString glob = QString::fromStdString(p);
            globs << glob;
            if (glob.toUpper() != glob)
                globs << glob.toUpper();
        }
        entries << QString::fromStdString(entry.label) + QStringLiteral(" (") + globs.join(QLatin1Char(' ')) +
                       QLatin1Char(')');
    }
    return entries.join(QStringLiteral(";;"));
}

// Runs f on the user-interface thread and returns its result; direct when already there.
template <typename R, typename F> R OnGuiThread(F f) {
    QCoreApplication* app = QCoreApplication::instance();
    if (!app || QThread::currentThread() == app->thread())
        return f();
    R result{};
    QMetaObject::invokeMethod(
        app, [&result, &f] { result = f(); }, Qt::BlockingQueuedConnection);
    return result;
}

bool HaveWidgets() {
    return qobject_cast<QApplication*>(QCoreApplication::instance()) != nullptr;
}

} // namespace

PromptAnswer QtPromptService::ShowBox(const PromptBox& box) {
    const std::string caption = CaptionFor(box);
    if (!HaveWidgets()) {
        std::fprintf(stderr, "%s: %s\n", caption.c_str(), box.text.c_str());
        return DefaultAnswer(box.buttons);
    }
    return OnGuiThread<PromptAnswer>([&]() {
        QMessageBox::Icon icon = QMessageBox::NoIcon;
        switch (box.icon) {
        case PromptIcon::None:
            break;
        case PromptIcon::Information:
            icon = QMessageBox::Information;
            break;
        case PromptIcon::Question:
            icon = QMessageBox::Question;
            break;
        case PromptIcon::Warning:
            icon = QMessageBox::Warning;
            break;
        case PromptIcon::Error:
            icon = QMessageBox::Critical;
            break;
        }
        QMessageBox::StandardButtons buttons = QMessageBox::Ok;
        QMessageBox::StandardButton escape = QMessageBox::Ok;
        if (box.buttons == PromptButtons::OkCancel) {
            buttons = QMessageBox::Ok | QMessageBox::Cancel;
            escape = QMessageBox::Cancel;
        } else if (box.buttons == PromptButtons::YesNo) {
            buttons = QMessageBox::Yes | QMessageBox::No;
            escape = QMessageBox::No;
        }
        // Not a Qt child of its owner: a progress window that opens while the box is up disables the
        // owner, and a child box would be disabled with it and could never be answered.
        QMessageBox mb(icon, QString::fromStdString(caption), QString::fromStdString(box.text), buttons, nullptr);
        mb.setObjectName(QStringLiteral("QxPromptBox"));
        mb.setTextFormat(Qt::PlainText);
        mb.setEscapeButton(escape);
        mb.setWindowModality(Qt::ApplicationModal);
        PlaceOverOwner(&mb, OwnerWindow(box.owner));
        QTimer overtaken;
        if (box.closeWhen) {
            QObject::connect(&overtaken, &QTimer::timeout, &mb, [&mb, &box] {
                if (box.closeWhen()) {
                    mb.done(QMessageBox::Cancel);
                }
            });
            overtaken.start(100);
        }
        const int r = mb.exec();
        switch (r) {
        case QMessageBox::Ok:
            return PromptAnswer::Ok;
        case QMessageBox::Yes:
            return PromptAnswer::Yes;
        case QMessageBox::No:
            return PromptAnswer::No;
        default:
            return DefaultAnswer(box.buttons);
        }
    });
}

OpenFilesResult QtPromptService::OpenFiles(const OpenFilesRequest& request) {
    if (!HaveWidgets())
        return {};
    OpenFilesResult result = OnGuiThread<OpenFilesResult>([&]() {
        OpenFilesResult r;
        const QStringList names = QFileDialog::getOpenFileNames(
            OwnerWindow(request.owner),
            QString::fromStdString(request.title.empty() ? std::string("Open") : request.title),
            QString::fromStdString(request.folder), QtFilterFrom(request.filter));
        if (names.isEmpty())
            return r;
        for (const QString& n : names)
            r.files.push_back(n.toStdString());
        r.status = OpenFilesStatus::Chosen;
        return r;
    });
    if (result.status == OpenFilesStatus::Chosen && request.nameCapacity != 0 &&
        NameBufferLength(result.files) > request.nameCapacity) {
        // The classic dialog refuses a choice whose names do not fit its buffer: say so, add nothing.
        ShowBox({"Too many files were selected at once. Please select fewer files.", "", PromptButtons::Ok,
                 PromptIcon::Warning, request.owner});
        return {OpenFilesStatus::Overflow, {}};
    }
    return result;
}

FolderResult QtPromptService::BrowseFolder(const FolderRequest& request) {
    if (!HaveWidgets())
        return {};
    return OnGuiThread<FolderResult>([&]() {
        FolderResult r;
        const QString dir =
            QFileDialog::getExistingDirectory(OwnerWindow(request.owner), QString::fromStdString(request.title),
                                              QString::fromStdString(request.folder), QFileDialog::ShowDirsOnly);
        if (dir.isEmpty())
            return r;
        r.chosen = true;
        r.folder = dir.toStdString();
        if (r.folder.empty() || r.folder.back() != '/')
            r.folder += '/';
        return r;
    });
}

std::string QtPromptService::SaveFile(const SaveFileRequest& request) {
    if (!HaveWidgets())
        return {};
    return OnGuiThread<std::string>([&]() {
        const QString start = QString::fromStdString(
            request.folder.empty()
                ? request.defaultName
                : (request.folder.back() == '/' ? request.folder : request.folder + "/") + request.defaultName);
        return QFileDialog::getSaveFileName(OwnerWindow(request.owner), QString::fromStdString(request.title), start,
                                            QtFilterFrom(request.filter), nullptr, QFileDialog::DontConfirmOverwrite)
            .toStdString();
    });
}

void UseWindowPrompts() {
    static QtPromptService service;
    SetDefaultPrompts(&service);
}

} // namespace qx
