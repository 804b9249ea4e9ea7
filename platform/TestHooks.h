// The switches that tests and benchmarks set through the environment, gathered in one place. None of
// them is for users; each is read where it acts, and nothing else in the program reads the
// environment for such a purpose. (The settings users may set - QXAUTHOR_VERBOSITY,
// QXMOVIEDISC_SHOW_LOG, SOURCE_DATE_EPOCH, the XDG folders - are documented in README.md.)
//
//   QX_AUTHOR_TEST_PACE_MS=N     the authoring engine holds N ms (1..1000) at each new percentage, so
//                                that a test can interrupt a run of a small movie in the middle
//   QX_ENCODER_TEST_CRASH=STAGE  the encoder's worker aborts at STAGE ("probe", "convert", ...), to
//                                test how a crash of the encoder program is handled
//   QX_ENCODER_PART_LIMIT=BYTES  the size at which a converted stream goes on in a part file, so that
//                                tests see part files without writing gigabytes
//   QX_ENCODER_QUANTISER=linear|non-linear   forces the encoder's quantiser (benchmarks)
//   QX_ENCODER_ONE_PASS=1        the encoder spreads its bits without the look at the whole movie
//                                (benchmarks compare both)
//   QX_ENCODER_DEBUG_RATE=1, QX_ENCODER_DEBUG_PLAN=1   the encoder prints its rate and bit-plan
//                                decisions on standard error (tuning)
//   QX_VERIFY_TEST_PACE_MS=N     the read-back after a burn holds N ms (1..1000) before each megabyte,
//                                so that a test can stop it in the middle
//   QX_VERIFY_TEST_SHORTEN_AT=P  a virtual writer's image is cut at P % of the track when the
//                                read-back gets there (a disc whose end cannot be read)
#pragma once

#include <string>

namespace qx::hooks {

// The hook's value, or empty when it is not set.
std::string Value(const char* name);
// Whether the hook is set (to anything).
bool IsSet(const char* name);

// QX_AUTHOR_TEST_PACE_MS within 1..1000, else 0.
int AuthorPaceMs();
// QX_ENCODER_TEST_CRASH equals `stage`.
bool EncoderCrashAt(const char* stage);

} // namespace qx::hooks
