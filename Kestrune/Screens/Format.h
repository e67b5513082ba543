// The screens' number texts: byte counts through DiskMath::human, whole percentages, counted nouns.
#pragma once

#include "KestruneCore/Model/DiskMath.h"

#include <QString>

#include <cstdint>

namespace Format {

inline QString human(std::int64_t bytes) {
    return QString::fromStdString(DiskMath::human(bytes));
}

inline QString percent(double fraction) {
    return QString::asprintf("%.0f%%", fraction * 100);
}

// "1 item", "2 items": the plural by English rules, each form a text of its own for translators.
inline QString counted(int n, const QString& one, const QString& many) {
    return (n == 1 ? one : many).arg(n);
}

} // namespace Format
