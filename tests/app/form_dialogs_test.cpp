// The dialog seam's unattended journal.

#include "app/dialogs.h"

#include <gtest/gtest.h>

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
