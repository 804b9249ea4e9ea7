// Qt's application object switches the C library to the user's locale. Numbers that travel between
// programs or into files (encoder records and probe answers, INI values, log lines) must be written
// and read with a '.' whatever that locale is, so every program puts the numeric part back to "C"
// right after making its application object. What is shown follows QLocale, which this leaves alone.
#pragma once

#include <clocale>

namespace qx {

inline void UseLocaleIndependentNumbers() {
    std::setlocale(LC_NUMERIC, "C");
}

} // namespace qx
