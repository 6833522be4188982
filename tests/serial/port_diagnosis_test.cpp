// Why a device would not open: the text for each failure, and the holders found in a process
// tree laid out as /proc lays it out.

#include "serial/port_diagnosis.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <cerrno>
#include <fstream>
#include <sys/stat.h>

namespace fs = std::filesystem;

TEST(PortDiagnosis, EachFailureSaysWhatHoldsTheDeviceAndWhatToDo)
{
    const DeviceFacts usb{"/dev/ttyUSB0", "", true, S_IFCHR | 0660, "root", "dialout", {}};
    const DeviceFacts private_pty{"/tmp/com1", "/dev/pts/4", true, S_IFCHR | 0620, "ann", "tty", {}};
    DeviceFacts held = usb;
    held.holders = {{"minicom", 4242}, {"screen", 77}};
    const struct {
        int err;
        const DeviceFacts& facts;
        std::string reason;
    } cases[] = {
        {EACCES, usb,
         "Permission denied: /dev/ttyUSB0 belongs to group dialout, and only its members may open it. "
         "Fix: sudo usermod -aG dialout $USER, then log in again."},
        {EACCES, private_pty,
         "Permission denied: this user may not open /tmp/com1 (/dev/pts/4) (owner ann, group tty, crw--w----)."},
        {EBUSY, held, "/dev/ttyUSB0 is in use by minicom (process 4242), screen (process 77)."},
        {EWOULDBLOCK, usb,
         "/dev/ttyUSB0 is held by another program: an exclusive open or a lock on the device holds it, and "
         "no process that this user may look into has it open."},
        {ENOENT, usb, "/dev/ttyUSB0 is gone: unplugged, or removed by its driver."},
        {EIO, usb, "/dev/ttyUSB0 is gone: unplugged, or removed by its driver."},
        {ENOTTY, private_pty, "/tmp/com1 (/dev/pts/4) is not a serial device."},
        {EINVAL, usb, "/dev/ttyUSB0: Invalid argument."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.reason);
        EXPECT_EQ(open_failure_reason(c.err, c.facts), c.reason);
    }
    EXPECT_EQ(why_open_failed("", EACCES), "");
    EXPECT_EQ(why_open_failed("/dev/ttyUSB0", 0), "");
}

TEST(PortDiagnosis, HoldersAreTheProcessesWithTheDeviceAmongTheirOpenFiles)
{
    QTemporaryDir tmp;
    const fs::path root = tmp.path().toStdString();
    const fs::path device = root / "device";
    std::ofstream(device).put('x');
    std::ofstream(root / "other").put('y');
    const auto process = [&](const std::string& pid, const std::string& comm,
                             const std::vector<fs::path>& files) {
        fs::create_directories(root / "proc" / pid / "fd");
        std::ofstream(root / "proc" / pid / "comm") << comm << "\n";
        for (size_t fd = 0; fd < files.size(); ++fd)
            fs::create_symlink(files[fd], root / "proc" / pid / "fd" / std::to_string(fd));
    };
    process("12", "minicom", {root / "other", device});
    process("345", "cat", {root / "other"});
    process("self", "kestrin", {device}); // not a process number
    fs::create_directories(root / "proc" / "678"); // gone, or another user's: nothing to read

    const std::vector<DeviceHolder> holders = device_holders(device.string(), root / "proc");
    ASSERT_EQ(holders.size(), 1u);
    EXPECT_EQ(holders[0].program, "minicom");
    EXPECT_EQ(holders[0].pid, 12);
    EXPECT_TRUE(device_holders((root / "absent").string(), root / "proc").empty());
}
