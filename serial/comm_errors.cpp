#include "serial/comm_errors.h"

#include <utility>

EComError::EComError(const std::string& what, std::string device, int os_error)
    : std::runtime_error(what), device_(std::move(device)), os_error_(os_error)
{
}

EAlreadyOpen::EAlreadyOpen(std::string device, int os_error)
    : EComError("ie_Open - device already open", std::move(device), os_error)
{
}
EBadId::EBadId(std::string device, int os_error)
    : EComError("ie_BadId - Specified comport doesn't exist", std::move(device), os_error)
{
}
ECommNotOpen::ECommNotOpen() : EComError("ie_NOpen - device not open") {}
EOutputBufferTooSmall::EOutputBufferTooSmall() : EComError("Output buffer too small for block") {}
EPutBlockFail::EPutBlockFail() : EComError("Failed to put entire block") {}
EPortNotAssigned::EPortNotAssigned() : EComError("ComPort component not assigned") {}
ENotEnoughData::ENotEnoughData() : EComError("Not enough received data for block") {}
