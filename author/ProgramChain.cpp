// Program-chain groups before their scan: checks, menu languages, resolving sources, colour tables.
#include "ProgramChain.h"

#include "AuthorError.h"
#include "AuthorLog.h"

#include <cctype>
#include <cstdio>
#include <string>

namespace {

// Entry kinds a group may use: titles none; title-set menus root, subtitle, audio, angle, ptt; the
// video manager's menus only title.
unsigned allowedEntries(int kind) {
    switch (kind) {
    case GROUP_TITLE_MENUS:
        return (1u << ENTRY_ROOT) | (1u << ENTRY_SUBTITLE) | (1u << ENTRY_AUDIO) | (1u << ENTRY_ANGLE) |
               (1u << ENTRY_PTT);
    case GROUP_VMG_MENUS:
        return 1u << ENTRY_TITLE;
    default:
        return 0;
    }
}

bool shareSource(const ProgramChain& a, const ProgramChain& b) {
    for (const auto& ra : a.sources)
        for (const auto& rb : b.sources)
            if (ra.source && rb.source ? ra.source == rb.source : ra.path == rb.path)
                return true;
    return false;
}

// One pass over all pairs: a PGC without a table takes the other's. Returns whether anything changed.
bool shareColors(std::vector<ProgramChain*>& pgcs, bool logConflicts) {
    bool changed = false;
    for (size_t i = 0; i < pgcs.size(); ++i) {
        for (size_t j = i + 1; j < pgcs.size(); ++j) {
            ProgramChain& a = *pgcs[i];
            ProgramChain& b = *pgcs[j];
            if ((!a.colors && !b.colors) || !shareSource(a, b))
                continue;
            if (!a.colors) {
                a.colors = b.colors;
                changed = true;
            } else if (!b.colors) {
                b.colors = a.colors;
                changed = true;
            } else if (*a.colors != *b.colors && logConflicts) {
                AuthorLog(AUTHOR_LOG_WARN, "WARN: Conflict in colormap between PGC %d and %d\n", static_cast<int>(i),
                          static_cast<int>(j));
            }
        }
    }
    return changed;
}

} // namespace

const char* AuthorEntryName(int kind) {
    static const char* const names[] = {"title", "root", "subtitle", "audio", "angle", "ptt"};
    return kind >= ENTRY_TITLE && kind <= ENTRY_PTT ? names[kind - ENTRY_TITLE] : "";
}

void AuthorMenuList::AddLanguage(const std::string& language, std::unique_ptr<PgcGroup> group) {
    if (language.size() != 2)
        AuthorFatal("ERR:  Menu language '%s' is not two letters.\n", language.c_str());
    AuthorMenuLanguage entry;
    entry.language[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(language[0])));
    entry.language[1] = static_cast<char>(std::tolower(static_cast<unsigned char>(language[1])));
    entry.group = std::move(group);
    languages.push_back(std::move(entry));
}

void AuthorCheckGroup(PgcGroup& group) {
    std::string errors;
    auto error = [&errors](const std::string& line) {
        AuthorLog(AUTHOR_LOG_WARN, "%s", line.c_str());
        errors += line;
    };
    const unsigned allowed = allowedEntries(group.kind);
    group.entries = 0;
    for (size_t i = 0; i < group.pgcs.size(); ++i) {
        ProgramChain& pgc = *group.pgcs[i];
        const int index = static_cast<int>(i);
        if (pgc.postCommands.empty() && !pgc.sources.empty() && !pgc.sources.back().cells.empty())
            pgc.sources.back().cells.back().pause = 255;
        for (int kind = ENTRY_TITLE; kind <= ENTRY_PTT; ++kind) {
            if (!(pgc.entries & (1u << kind)))
                continue;
            char line[160];
            if (group.entries & (1u << kind)) {
                std::snprintf(line, sizeof line, "ERR:  Multiple definitions for entry %s, 2nd occurance in PGC #%d\n",
                              AuthorEntryName(kind), index);
                error(line);
            }
            if (!(allowed & (1u << kind))) {
                std::snprintf(line, sizeof line, "ERR:  Entry %s is not allowed for menu type %s\n",
                              AuthorEntryName(kind), AuthorGroupName(group.kind));
                error(line);
            }
        }
        bool firstWithCells = true;
        for (AuthorSourceRef& ref : pgc.sources) {
            // The largest picture a menu can have; FixNavPacks checks again with the real one.
            const std::string problem = ref.highlight ? AuthorHighlightProblem(*ref.highlight, 720, 576) : "";
            if (!problem.empty())
                error("ERR:  Menu buttons of " + ref.path + " in PGC #" + std::to_string(index) + ": " + problem +
                      "\n");
            if (ref.cells.empty()) {
                AuthorLog(AUTHOR_LOG_WARN, "WARN: Source has no cells (%s) in PGC %d\n", ref.path.c_str(), index);
                continue;
            }
            if (firstWithCells && ref.cells.front().chapterMark != 1) {
                ref.cells.front().chapterMark = 1;
                AuthorLog(AUTHOR_LOG_WARN,
                          "WARN: First cell is not marked as a chapter in PGC %d, setting chapter flag\n", index);
            }
            firstWithCells = false;
        }
        group.entries |= pgc.entries;
    }
    group.numEntries = 0;
    for (int kind = ENTRY_TITLE; kind <= ENTRY_PTT; ++kind)
        if (group.entries & (1u << kind))
            ++group.numEntries;
    if (!errors.empty())
        AuthorThrowFatal(errors);
}

void AuthorCollectSources(PgcGroup& group, std::vector<ProgramChain*>& allPgcs) {
    for (auto& pgc : group.pgcs) {
        allPgcs.push_back(pgc.get());
        for (AuthorSourceRef& ref : pgc->sources) {
            ref.source = nullptr;
            for (auto& source : group.sources)
                if (source->path == ref.path)
                    ref.source = source.get();
            if (!ref.source) {
                group.sources.push_back(std::make_unique<AuthorSource>());
                group.sources.back()->path = ref.path;
                ref.source = group.sources.back().get();
            }
            // A source shows one set of buttons, whichever program chain plays it.
            if (ref.highlight && !ref.source->highlight)
                ref.source->highlight = ref.highlight;
            else if (ref.highlight && ref.source->highlight != ref.highlight)
                AuthorLog(AUTHOR_LOG_WARN, "WARN: Other menu buttons for %s in a later PGC; keeping the first\n",
                          ref.path.c_str());
        }
    }
}

void AuthorResolveColors(std::vector<ProgramChain*>& pgcs) {
    AuthorColorTable defaults;
    defaults.fill(AUTHOR_DEFAULT_COLOR);
    for (;;) {
        while (shareColors(pgcs, false)) {
        }
        bool assigned = false;
        for (ProgramChain* pgc : pgcs) {
            if (!pgc->colors) {
                pgc->colors = defaults;
                assigned = true;
                break; // the others sharing a source take it in the next pass
            }
        }
        if (!assigned)
            break;
    }
    shareColors(pgcs, true);
}
