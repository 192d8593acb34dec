#include "link/BoxLine.h"

namespace vek {

void setBoxLineSettings(TCustomComPort& port) {
    port.BaudRate = TBaudRate::brCustom;
    port.CustomBaudRate = kBoxBaudRate;
    port.DataBits = TDataBits::dbEight;
    port.StopBits = TStopBits::sbOneStopBit;
    port.Parity = {};
    port.FlowControl = {};
    port.Buffer = {4096, 4096};
    port.Timeouts = {200, 100, 100, 2, 2};
}

}  // namespace vek
