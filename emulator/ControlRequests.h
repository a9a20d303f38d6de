// How an emulated device answers requests on its control pipe.
#pragma once

#include "Descriptors.h"
#include "Records.h"
#include "Responder.h"

namespace nsemu {

// The model's responder goes first; then standard and HID requests.
// Unknown IN requests stall; unknown class or vendor OUT requests are
// acknowledged. IN data is cut to wLength.
ControlAnswer answerControl(const DeviceDescription& model, const SetupPacket& setup, const Bytes& outData);

}  // namespace nsemu
