// The unattended file-open dialog: it opens the file that KESTRIN_OPEN names, so that a whole
// interactive run can go on with nobody at the screen.

#include "app/dialogs.h"

#include <gtest/gtest.h>

#include <cstdlib>

TEST(UnattendedOpen, AnswersWithThePathInKestrinOpenAndCancelsWithoutIt)
{
    UnattendedDialogs dialogs("");
    testing::internal::CaptureStderr();
    setenv("KESTRIN_OPEN", "/tmp/run\\1.sld", 1);
    const std::optional<std::string> chosen = dialogs.OpenFile(nullptr, "/home", "");
    setenv("KESTRIN_OPEN", "", 1);
    const std::optional<std::string> empty = dialogs.OpenFile(nullptr, "/home", "");
    unsetenv("KESTRIN_OPEN");
    const std::optional<std::string> unset = dialogs.OpenFile(nullptr, "/home", "");
    EXPECT_EQ(chosen, "/tmp/run\\1.sld");
    EXPECT_FALSE(empty);
    EXPECT_FALSE(unset);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "open: /home -> /tmp/run\\\\1.sld\n"
                                                      "open: /home -> cancel\n"
                                                      "open: /home -> cancel\n");
}
