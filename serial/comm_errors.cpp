#include "serial/comm_errors.h"

EAlreadyOpen::EAlreadyOpen() : EComError("ie_Open - device already open") {}
EBadId::EBadId() : EComError("ie_BadId - Specified comport doesn't exist") {}
ECommNotOpen::ECommNotOpen() : EComError("ie_NOpen - device not open") {}
EOutputBufferTooSmall::EOutputBufferTooSmall() : EComError("Output buffer too small for block") {}
EPutBlockFail::EPutBlockFail() : EComError("Failed to put entire block") {}
EPortNotAssigned::EPortNotAssigned() : EComError("ComPort component not assigned") {}
ENotEnoughData::ENotEnoughData() : EComError("Not enough received data for block") {}
