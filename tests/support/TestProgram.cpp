#include "TestProgram.h"

#include <QProcess>

namespace qxtest {

ProgramRun RunProgram(const std::string& program, const QStringList& args, int timeoutMs, bool mergeErrors) {
    QProcess p;
    p.setProcessChannelMode(mergeErrors ? QProcess::MergedChannels : QProcess::SeparateChannels);
    p.start(QString::fromStdString(program), args);
    ProgramRun r;
    if (p.waitForFinished(timeoutMs)) {
        r.status = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    } else {
        p.kill();
        p.waitForFinished(5000);
    }
    r.out = p.readAllStandardOutput().toStdString();
    r.err = p.readAllStandardError().toStdString();
    return r;
}

} // namespace qxtest
