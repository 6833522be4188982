#pragma once

#include <QString>

// "1 failed run", "3 failed runs".
inline QString counted(qint64 count, const QString& one, const QString& many)
{
    return QString::number(count) + " " + (count == 1 ? one : many);
}
