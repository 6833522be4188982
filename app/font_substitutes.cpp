#include "app/font_substitutes.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QFontInfo>
#include <QFontMetrics>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QStyleOptionButton>

#include <algorithm>

namespace {

// A caption never shrinks below this character height, whatever its room.
constexpr int kSmallestPixelHeight = 7;

bool is_centred(const QLabel& label)
{
    return (label.alignment() & (Qt::AlignHCenter | Qt::AlignRight)) != 0;
}

// The left edge of the nearest control right of `control` on its row that will be shown, or the
// parent's right edge.
int right_limit(const QWidget& control)
{
    const QWidget* parent = control.parentWidget();
    int limit = parent->width();
    const QRect own = control.geometry();
    for (const QObject* object : parent->children()) {
        const auto* sibling = qobject_cast<const QWidget*>(object);
        if (!sibling || sibling == &control || !sibling->isVisibleTo(parent))
            continue;
        const QRect other = sibling->geometry();
        const bool sameRow = other.top() <= own.bottom() && other.bottom() >= own.top();
        if (sameRow && other.left() > own.left())
            limit = std::min(limit, other.left());
    }
    return limit;
}

QRect button_contents(const QAbstractButton& button)
{
    QStyleOptionButton option;
    option.initFrom(&button);
    option.text = button.text();
    const bool checkBox = qobject_cast<const QCheckBox*>(&button) != nullptr;
    return button.style()->subElementRect(
        checkBox ? QStyle::SE_CheckBoxContents : QStyle::SE_PushButtonContents, &option, &button);
}

int caption_room(const QWidget& control)
{
    if (const auto* button = qobject_cast<const QAbstractButton*>(&control))
        return button_contents(*button).width();
    const auto& label = static_cast<const QLabel&>(control);
    if (is_centred(label))
        return label.contentsRect().width();
    return right_limit(label) - label.x();
}

QString caption_of(const QWidget& control)
{
    if (const auto* button = qobject_cast<const QAbstractButton*>(&control))
        return button->text();
    return static_cast<const QLabel&>(control).text();
}

void shrink_to_fit(QWidget& control)
{
    const QString caption = caption_of(control);
    const int room = caption_room(control);
    QFont font = control.font();
    if (font.pixelSize() < 0)
        font.setPixelSize(QFontInfo(font).pixelSize());
    bool shrunk = false;
    while (QFontMetrics(font).horizontalAdvance(caption) > room &&
           font.pixelSize() > kSmallestPixelHeight) {
        font.setPixelSize(font.pixelSize() - 1);
        shrunk = true;
    }
    if (!shrunk)
        return;
    control.setFont(font);
    if (auto* label = qobject_cast<QLabel*>(&control); label && !is_centred(*label))
        label->adjustSize();
}

} // namespace

void install_font_substitutes()
{
    QFont::insertSubstitution("MS Sans Serif", "Liberation Sans");
    QFont::insertSubstitution("Courier New", "Liberation Mono");
    QFont::insertSubstitutions("Comic Sans MS", {"Comic Neue", "Liberation Sans"});
}

void fit_captions(QWidget& window)
{
    for (QWidget* control : window.findChildren<QWidget*>()) {
        const bool captioned =
            qobject_cast<QLabel*>(control) || qobject_cast<QPushButton*>(control) ||
            qobject_cast<QCheckBox*>(control);
        if (captioned && control->isVisibleTo(&window) && !caption_of(*control).isEmpty())
            shrink_to_fit(*control);
    }
}
