// The real parts behind a job's interfaces.
#include "JobParts.h"

#include "AuthorLog.h"
#include "BuildInCore.h"
#include "NeroCore.h"

void CompleteJobParts(JobParts& parts, const std::function<void(const std::string&)>& engineLog) {
    if (!parts.encoder) {
        parts.encoder = CreateEncoderLink(parts.encoderProgram);
    }
    if (!parts.authoring) {
        parts.authoring = CreateAuthoringLink();
    }
    if (!parts.buildInCore) {
        // Engine messages (traces and status texts) reach the diagnostic print: errors always, the rest
        // at the verbosity QXAUTHOR_VERBOSITY asks for.
        static const bool hooked = [] {
            for (int channel : {0, 1}) {
                AddEngineMessageHook(channel, [](int severity, const std::string& text) {
                    AuthorLog(severity >= 3 ? AUTHOR_LOG_WARN : AUTHOR_LOG_DEBUG, "%s", text.c_str());
                });
            }
            return true;
        }();
        (void)hooked;
        parts.buildInCore = std::make_unique<CBuildInCore>(engineLog);
    }
    if (!parts.neroCore) {
        // Offered only when the registry names a library folder whose library is recent enough.
        parts.neroCore = std::make_unique<CNeroCore>(engineLog);
    }
    // Listing with one engine drops the other engine's cached drive list.
    auto* buildIn = dynamic_cast<CBuildInCore*>(parts.buildInCore.get());
    auto* nero = dynamic_cast<CNeroCore*>(parts.neroCore.get());
    if (buildIn && nero) {
        buildIn->onListWriters = [nero] { nero->DropDriveList(); };
        nero->onListWriters = [buildIn] { buildIn->DropDeviceList(); };
    }
}
