// The dialog seam: the unattended journal, and the text that a message box shows.

#include "app/dialogs.h"

#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include <gtest/gtest.h>

#include <memory>

TEST(UnattendedJournal, EscapesControlBytesAndBackslashes)
{
    EXPECT_EQ(journal_escape("a\rb\nc\\d\x01\x1f e"), "a\\rb\\nc\\\\d\\x01\\x1f e");
    EXPECT_EQ(journal_escape(std::string_view("\0x", 2)), "\\x00x");
    EXPECT_EQ(journal_escape("\xe9t\xe9"), "\xe9t\xe9");
}

TEST(UnattendedJournal, WritesOneLinePerDialogAndAnswersFromTheList)
{
    UnattendedDialogs dialogs(" no, ok ,,CANCEL");
    testing::internal::CaptureStderr();
    dialogs.Message(nullptr, "Error! Unit not in Loader Mode! Exiting script");
    const bool first = dialogs.Question(nullptr, "Loader GUI : Confirm Exit", "a\rb",
                                        QuestionButtons::YesNo);
    const bool second = dialogs.Question(nullptr, "Kestrin - Query", "Go?", QuestionButtons::OkCancel);
    const bool third = dialogs.Question(nullptr, "Kestrin - Query", "Go?", QuestionButtons::OkCancel);
    const bool fourth = dialogs.Question(nullptr, "Kestrin - Query", "Go?", QuestionButtons::OkCancel);
    const bool fifth = dialogs.Question(nullptr, "C", "T", QuestionButtons::YesNo);
    dialogs.StatusShown("SUCCESS. Reading script file complete");
    dialogs.StatusShown(" ");
    EXPECT_FALSE(dialogs.OpenFile(nullptr, "/home", "Script files (*.sld)|*.sld").has_value());
    const std::string journal = testing::internal::GetCapturedStderr();

    EXPECT_FALSE(first);
    EXPECT_TRUE(second);
    EXPECT_FALSE(third);
    EXPECT_TRUE(fourth);
    EXPECT_TRUE(fifth);
    EXPECT_EQ(journal, "message: Error! Unit not in Loader Mode! Exiting script\n"
                       "question: Loader GUI : Confirm Exit: a\\rb -> no\n"
                       "question: Kestrin - Query: Go? -> ok\n"
                       "question: Kestrin - Query: Go? -> cancel\n"
                       "question: Kestrin - Query: Go? -> ok\n"
                       "question: C: T -> yes\n"
                       "status: SUCCESS. Reading script file complete\n"
                       "status:  \n"
                       "open: /home -> cancel\n");
}

TEST(MessageBoxText, LineEndsAndBytesAsTheTechnicianExpects)
{
    const struct {
        std::string_view bytes;
        QString shown;
    } cases[] = {
        {"File upload in progress.\rAre you sure?", "File upload in progress.\nAre you sure?"},
        {"Error opening a.sld.\r", "Error opening a.sld.\n"},
        {"one\r\ntwo\nthree", "one\ntwo\nthree"},
        {"<b>bold</b> &lt; \\", "<b>bold</b> &lt; \\"},
        {"caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80", QString::fromUtf8("caf\u00e9 \u20ac \U0001F600")},
        {"caf\xe9.sld", QString::fromUtf8("caf\u00e9.sld")},                 // Latin-1
        {"\xc3\xa9\xe9", QString::fromUtf8("\u00e9\u00e9")},                 // mixed
        {"\xc0\xaf", QString::fromUtf8("\u00c0\u00af")},                      // overlong '/'
        {"\xed\xa0\x80", QString::fromUtf8("\u00ed\u00a0\u0080")},           // surrogate
        {"x\xe2\x82", QString::fromUtf8("x\u00e2\u0082")},                    // cut short
        {"\xf4\x90\x80\x80", QString::fromUtf8("\u00f4\u0090\u0080\u0080")}, // past U+10FFFF
    };
    for (const auto& c : cases)
        EXPECT_EQ(message_box_text(c.bytes), c.shown) << c.bytes;
}

// What the message box that QtDialogs shows reads while it is open.
struct OpenBox {
    QString caption;
    QString text;
    Qt::TextFormat labelFormat = Qt::AutoText;
};

TEST(MessageBoxText, ScriptTextsAndFileNamesAreShownAsTypedNeverAsMarkup)
{
    QtDialogs dialogs;
    auto seen = std::make_shared<OpenBox>();
    // Reads the next box once it is open, then closes it with its first button.
    const auto watch = [&seen] {
        QTimer::singleShot(0, [seen] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            ASSERT_NE(box, nullptr);
            const auto* label = box->findChild<QLabel*>("qt_msgbox_label");
            ASSERT_NE(label, nullptr);
            *seen = {box->windowTitle(), label->text(), label->textFormat()};
            box->buttons().first()->click();
        });
    };

    watch();
    dialogs.Message(nullptr, "Error opening <b>x</b>&lt;.sld.\r");
    EXPECT_EQ(seen->text, "Error opening <b>x</b>&lt;.sld.\n");
    EXPECT_EQ(seen->labelFormat, Qt::PlainText);

    watch();
    dialogs.Question(nullptr, "<i>Query</i>", "Go <b>on</b>?\rYes", QuestionButtons::OkCancel);
    EXPECT_EQ(seen->caption, "<i>Query</i>");
    EXPECT_EQ(seen->text, "Go <b>on</b>?\nYes");
    EXPECT_EQ(seen->labelFormat, Qt::PlainText);
}
