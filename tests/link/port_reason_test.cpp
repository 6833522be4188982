// Why COM1 will not open, told after the specified message: a pseudo-terminal held by a helper
// process, and one that an unprivileged user may not open. The real program writes the reason
// as a detail: line; the main window shows it as the message's detail and in the COM1 item's
// tool tip.

#include "tests/link/link_test_support.h"
#include "tests/support/program_run.h"

#include <QAction>
#include <QMenu>

#include <gtest/gtest.h>

#include <cerrno>
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const std::string kAutomaticIni = "Port=COM1\nBaud=38400\n8\n0\n1\nScript=auto.sld\n7\nMode=Automatic\n";
const std::string kNotResponding =
    "message: Note: COM Port #1 is not responding/being used by other applications.\n";
const std::string kNoUnit = "Error!! COM port communication failed. Please check RS232 connection/INI "
                            "settings. Exiting application";

// Whether another open file description holds the lock on `path`.
bool lock_is_held(const std::string& path)
{
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    const bool held = fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
    if (fd >= 0)
        ::close(fd);
    return held;
}

std::string device_of(const std::string& link)
{
    return std::filesystem::canonical(link).string();
}

} // namespace

TEST(PortReasons, APortHeldByAnotherProgramNamesItInTheDetailAndTheToolTip)
{
    QTemporaryDir tmp;
    const std::string dir = tmp.path().toStdString();
    SimUnit unit(dir, "com1");
    QProcess holder; // sleep, with the port open and locked as a terminal program holds it
    const std::string pty = unit.pty;
    holder.setChildProcessModifier([pty] {
        const int fd = ::open(pty.c_str(), O_RDWR | O_NOCTTY);
        if (fd < 0 || ::flock(fd, LOCK_EX | LOCK_NB) != 0)
            _exit(111);
    });
    holder.start("sleep", {"300"});
    ASSERT_TRUE(holder.waitForStarted());
    ASSERT_TRUE(lock_is_held(pty));

    ComMapping mapping{{{1, pty}}};
    FormFixture f;
    f.form().COMMenus[0]->trigger();
    ASSERT_EQ(f.dialogs.details.size(), 1u);
    const std::string& reason = f.dialogs.details[0];
    EXPECT_TRUE(reason.starts_with(pty + " (" + device_of(pty) + ") is in use by ")) << reason;
    EXPECT_NE(reason.find("sleep (process " + std::to_string(holder.processId()) + ")"), std::string::npos)
        << reason;
    EXPECT_EQ(f.dialogs.events[2], "detail: " + reason); // right after its message
    emit f.form().COMPortMenu->aboutToShow();
    EXPECT_TRUE(f.form().COMMenus[0]->toolTip().toStdString().ends_with("\n" + reason));

    // The start-up tries COM1 as configured, then again in its search.
    std::ofstream(dir + "/LoaderDefault.ini") << kAutomaticIni;
    const ProgramResult result = run_kestrin(dir, {{"KESTRIN_COM1", QString::fromStdString(pty)}});
    ASSERT_TRUE(result.finished) << result.journal;
    EXPECT_EQ(result.exitCode, 2);
    const std::string tried = kNotResponding + "detail: " + reason + "\n";
    EXPECT_EQ(journal_lines(result.journal),
              tried + tried + "message: " + kNoUnit + "\nresult: fail: " + kNoUnit + "\n");
}

TEST(PortReasons, APortThisUserMayNotOpenNamesItsGroupAndTheFix)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "this test opens a pseudo-terminal as the user nobody, and only root can become "
                        "another user (running as uid " << ::geteuid() << ")";
    const passwd* nobody = ::getpwnam("nobody");
    const group* dialout = ::getgrnam("dialout");
    if (!nobody || !dialout)
        GTEST_SKIP() << "this test needs the user nobody and the group dialout";
    const uid_t uid = nobody->pw_uid;
    const gid_t gid = nobody->pw_gid;

    QTemporaryDir tmp;
    const std::string dir = tmp.path().toStdString();
    ASSERT_EQ(::chmod(dir.c_str(), 0755), 0); // nobody reads the configuration and the link
    SimUnit unit(dir, "com1");
    const std::string device = device_of(unit.pty);
    // As a USB adapter's device is: the group may read and write it, others may not.
    ASSERT_EQ(::chown(device.c_str(), 0, dialout->gr_gid), 0);
    ASSERT_EQ(::chmod(device.c_str(), 0660), 0);
    std::ofstream(dir + "/LoaderDefault.ini") << kAutomaticIni;

    const ProgramResult result =
        run_kestrin(dir, {{"KESTRIN_COM1", QString::fromStdString(unit.pty)}, {"HOME", "/nonexistent"}}, 60000,
                    [uid, gid] {
                        if (::setgroups(0, nullptr) != 0 || ::setgid(gid) != 0 || ::setuid(uid) != 0)
                            _exit(112);
                    });
    ASSERT_TRUE(result.finished) << result.journal;
    EXPECT_EQ(result.exitCode, 2) << result.journal;
    const std::string tried = kNotResponding + "detail: Permission denied: " + unit.pty + " (" + device +
                              ") belongs to group dialout, and only its members may open it. Fix: sudo "
                              "usermod -aG dialout $USER, then log in again.\n";
    EXPECT_EQ(journal_lines(result.journal),
              tried + tried + "message: " + kNoUnit + "\nresult: fail: " + kNoUnit + "\n");
}
