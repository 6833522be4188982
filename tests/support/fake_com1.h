#pragma once
// The main window with COM1 open on an in-memory serial line, which the test drives as the unit.

#include "serial/com_port.h"
#include "tests/serial/fake_serial_device.h"
#include "tests/serial/serial_test_support.h"
#include "tests/support/form_fixture.h"

struct FakeCom1 {
    FakeCom1()
    {
        form.ApdComPort1->SetDeviceFactory(line.factory());
        form.ApdComPort1->SetComNumber(1);
        form.ApdComPort1->SetOpen(true);
    }

    FakeLine line;
    ComMapping mapping{{{1, "/dev/fake-com1"}}};
    FormFixture f; // built after the mapping, so COM1 is the in-memory line
    TKestrinForm& form = f.form();
};
