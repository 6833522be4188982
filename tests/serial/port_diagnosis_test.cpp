// Why a device would not open: the text for each failure. (The holders found in /proc and the
// facts of real devices: tests/link/port_reason_test.cpp.)

#include "serial/port_diagnosis.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <sys/stat.h>

TEST(PortDiagnosis, EachFailureSaysWhatHoldsTheDeviceAndWhatToDo)
{
    const DeviceFacts usb{"/dev/ttyUSB0", "", S_IFCHR | 0660, "root", "dialout", {}};
    const DeviceFacts private_pty{"/tmp/com1", "/dev/pts/4", S_IFCHR | 0620, "ann", "tty", {}};
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
