#pragma once
// The screen-wide mouse cursor: the hourglass while the system works, the arrow otherwise.

#include <QGuiApplication>

inline void show_hourglass()
{
    if (QGuiApplication::overrideCursor())
        QGuiApplication::changeOverrideCursor(Qt::WaitCursor);
    else
        QGuiApplication::setOverrideCursor(Qt::WaitCursor);
}

inline void show_arrow()
{
    while (QGuiApplication::overrideCursor())
        QGuiApplication::restoreOverrideCursor();
}
