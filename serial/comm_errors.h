// Errors raised by the serial port layer.
//
// Every error of the layer is an EComError, so a caller that only wants to
// report the failure catches that one class and shows what(). The subclasses
// let the link code tell the cases apart: a port held by another program, a
// port number with no device behind it, an operation on a closed port, a
// transmit request larger than the free transmit space, a write the device
// refused, and status lights switched on without a port.
//
// The texts are the ones the technician sees in message boxes; they are fixed.
// An error of opening a device also carries the device tried and the errno of
// the failure, from which serial/port_diagnosis.h tells why.
#pragma once

#include <stdexcept>
#include <string>

class EComError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
    EComError(const std::string& what, std::string device, int os_error);

    // The device that would not open and the errno of the failure; empty and 0
    // for every other error.
    const std::string& device() const { return device_; }
    int os_error() const { return os_error_; }

private:
    std::string device_;
    int os_error_ = 0;
};

// "ie_Open - device already open": another program holds the device (or this
// user may not open it).
class EAlreadyOpen : public EComError {
public:
    explicit EAlreadyOpen(std::string device = {}, int os_error = 0);
};

// "ie_BadId - Specified comport doesn't exist"
class EBadId : public EComError {
public:
    explicit EBadId(std::string device = {}, int os_error = 0);
};

// "ie_NOpen - device not open"
class ECommNotOpen : public EComError {
public:
    ECommNotOpen();
};

// "Output buffer too small for block": more bytes than the free transmit space.
class EOutputBufferTooSmall : public EComError {
public:
    EOutputBufferTooSmall();
};

// "Failed to put entire block": the device refused a write.
class EPutBlockFail : public EComError {
public:
    EPutBlockFail();
};

// "ComPort component not assigned": status lights switched on without a port.
class EPortNotAssigned : public EComError {
public:
    EPortNotAssigned();
};

// "Not enough received data for block": GetBlock asked for more bytes than wait.
class ENotEnoughData : public EComError {
public:
    ENotEnoughData();
};
