#pragma once
// Small builders for the windows' designed controls: a label at its designed place, sized to its
// text, and a font of a given character height in pixels.

#include <QFont>
#include <QLabel>

inline QFont pixel_font(const char* family, int pixelHeight)
{
    QFont font(family);
    font.setPixelSize(pixelHeight);
    return font;
}

inline QLabel* make_label(QWidget* parent, const char* name, const char* caption, int left, int top)
{
    auto* label = new QLabel(caption, parent);
    label->setObjectName(name);
    label->move(left, top);
    label->adjustSize();
    return label;
}
