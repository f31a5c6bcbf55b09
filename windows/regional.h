// The user's regional settings, as far as the windows need them.
#pragma once

#include <QLocale>

namespace zorm {

// The decimal separator of the system's regional settings, for the number
// texts. A separator outside Latin-1 cannot go into the 8-bit number texts;
// the point stands in for it.
inline char SystemDecimalSeparator() {
    const QString point = QLocale::system().decimalPoint();
    const char sep = point.isEmpty() ? '\0' : point.front().toLatin1();
    return sep != '\0' ? sep : '.';
}

} // namespace zorm
