// Every caption of the four windows fits its control and runs into no other control, drawn with
// the free faces the program puts in place of the layout's Windows faces.

#include "app/splash_form.h"
#include "link/client_socket_form.h"
#include "tests/support/form_fixture.h"
#include "upload/progress_form.h"

#include <QCheckBox>
#include <QFontInfo>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QStyleOptionButton>
#include <QStyleOptionGroupBox>

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

// Where a widget draws its caption, and the rectangle the caption must stay inside, both in the
// window's coordinates.
struct Caption {
    const QWidget* widget;
    QRect text;
    QRect room;
};

QRect in_window(const QWidget& widget, const QRect& rect)
{
    return QRect(widget.mapTo(widget.window(), rect.topLeft()), rect.size());
}

QRect aligned(const QWidget& widget, Qt::Alignment alignment, const QString& text,
              const QRect& area)
{
    const QFontMetrics metrics(widget.font());
    const QSize size(metrics.horizontalAdvance(text), metrics.height());
    return QStyle::alignedRect(widget.layoutDirection(), alignment, size, area);
}

std::optional<Caption> caption_of(const QWidget& widget)
{
    QRect area;
    QRect text;
    if (const auto* label = qobject_cast<const QLabel*>(&widget)) {
        if (label->text().isEmpty())
            return std::nullopt;
        area = label->contentsRect().intersected(widget.parentWidget()->rect().translated(-label->pos()));
        text = aligned(widget, label->alignment(), label->text(), label->contentsRect());
    } else if (const auto* button = qobject_cast<const QAbstractButton*>(&widget)) {
        const bool checkBox = qobject_cast<const QCheckBox*>(button) != nullptr;
        QStyleOptionButton option;
        option.initFrom(button);
        option.text = button->text();
        area = button->style()->subElementRect(checkBox ? QStyle::SE_CheckBoxContents
                                                        : QStyle::SE_PushButtonContents,
                                               &option, button);
        text = aligned(widget, checkBox ? Qt::AlignLeft | Qt::AlignVCenter : Qt::AlignCenter,
                       button->text(), area);
    } else if (const auto* group = qobject_cast<const QGroupBox*>(&widget)) {
        QStyleOptionGroupBox option;
        option.initFrom(group);
        option.text = group->title();
        option.textAlignment = group->alignment();
        option.subControls = QStyle::SC_GroupBoxFrame | QStyle::SC_GroupBoxLabel;
        option.lineWidth = 1;
        text = group->style()->subControlRect(QStyle::CC_GroupBox, &option,
                                              QStyle::SC_GroupBoxLabel, group);
        area = group->rect();
    } else {
        return std::nullopt;
    }
    return Caption{&widget, in_window(widget, text), in_window(widget, area)};
}

bool related(const QWidget* a, const QWidget* b)
{
    return a == b || a->isAncestorOf(b) || b->isAncestorOf(a);
}

// What a caption must not run into: another control's caption, or the whole face of a control
// without one (an edit field, a lamp, the progress bar, a button without text).
QRect face_of(const QWidget& widget, const std::vector<Caption>& captions)
{
    for (const Caption& caption : captions)
        if (caption.widget == &widget && !qobject_cast<const QGroupBox*>(&widget) &&
            !qobject_cast<const QPushButton*>(&widget))
            return caption.text;
    return in_window(widget, widget.rect());
}

void expect_captions_fit(const QWidget& window)
{
    SCOPED_TRACE(window.objectName().toStdString());
    std::vector<const QWidget*> shown;
    std::vector<Caption> captions;
    for (const QWidget* widget : window.findChildren<QWidget*>()) {
        if (!widget->isVisible())
            continue;
        shown.push_back(widget);
        if (auto caption = caption_of(*widget))
            captions.push_back(*caption);
    }
    for (const Caption& caption : captions) {
        const std::string name = caption.widget->objectName().toStdString();
        EXPECT_TRUE(caption.room.contains(caption.text))
            << name << " draws its caption in " << caption.text.x() << "," << caption.text.y()
            << " " << caption.text.width() << "x" << caption.text.height() << " but has "
            << caption.room.x() << "," << caption.room.y() << " " << caption.room.width() << "x"
            << caption.room.height();
        for (const QWidget* other : shown) {
            if (related(caption.widget, other))
                continue;
            EXPECT_FALSE(caption.text.intersects(face_of(*other, captions)))
                << name << " runs into " << other->objectName().toStdString();
        }
    }
}

void expect_family(const QWidget& widget, const char* family)
{
    EXPECT_STREQ(QFontInfo(widget.font()).family().toUtf8().constData(), family)
        << widget.objectName().toStdString() << ": install fonts-liberation and fonts-comic-neue";
}

} // namespace

TEST(CaptionFit, EveryCaptionOfTheFourWindowsFitsAndRunsIntoNoOtherControl)
{
    FormFixture f;
    KestrinWindows& windows = *f.windows;
    TKestrinForm& form = f.form();
    form.show();
    form.FormShow(); // the version label and the start-up status text

    std::strcpy(form.image_file_name, "demo-image.bin");
    std::strcpy(form.load_address_text, "0x10000");
    std::strcpy(form.version_text, "12/31/2003_23:59:59");
    form.file_checksum = 0xBB24;
    form.file_length = 32768;
    windows.ProgressForm->ShowProgressForm(16);
    windows.ClientSocketForm->show();
    windows.SplashForm->show();

    expect_family(*form.PickButton, "Liberation Sans");
    expect_family(*windows.ProgressForm->Label2, "Comic Neue");
    expect_family(*windows.ClientSocketForm->AddressLabel, "Liberation Sans");
    for (const QWidget* window : {static_cast<QWidget*>(&form),
                                  static_cast<QWidget*>(windows.ProgressForm.get()),
                                  static_cast<QWidget*>(windows.ClientSocketForm.get()),
                                  static_cast<QWidget*>(windows.SplashForm.get())})
        expect_captions_fit(*window);
}
