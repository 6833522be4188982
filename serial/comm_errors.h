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
#pragma once

#include <stdexcept>
#include <string>

class EComError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// "ie_Open - device already open": another program holds the device.
class EAlreadyOpen : public EComError {
public:
    EAlreadyOpen();
};

// "ie_BadId - Specified comport doesn't exist"
class EBadId : public EComError {
public:
    EBadId();
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
