// A misbehaving stand-in for the log program, for the channel's failure tests:
//   --silent   never signals that its window exists (and idles until killed);
//   --no-end   signals its start, records the size of every record it receives (one line each in
//              the file named by --sizes), but never signals the end and never ends by itself.
#include "MessageWindow.h"
#include "NamedEvent.h"

#include <QCoreApplication>

#include <cstdio>
#include <cstring>
#include <string>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    std::string mode, sizes;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--sizes") == 0 && i + 1 < argc)
            sizes = argv[++i];
        else
            mode = argv[i];
    }
    qx::MessageWindow window;
    const qx::Status made = window.Create([&](const qx::CopyDataMessage& m) -> int64_t {
        if (!sizes.empty()) {
            if (std::FILE* f = std::fopen(sizes.c_str(), "a")) {
                std::fprintf(f, "%zu %d %s\n", m.data.size(), m.data.size() >= 4 ? int(m.data[0]) : -1,
                             m.data.size() > 4 ? reinterpret_cast<const char*>(m.data.data() + 4) : "");
                std::fclose(f);
            }
        }
        return 1;
    });
    if (!made)
        return 1;
    if (mode == "--no-end") {
        qx::NamedEvent init;
        if (init.Open("QXLogAppInitEvent"))
            init.Set();
    }
    return app.exec();
}
