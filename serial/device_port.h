#pragma once
#include "serial/serial_port.h"

// The driver's one port to the device, configured and opened by the main window. Defined with the
// infodriver client in app/statics.cpp, which fixes their order of construction.
extern SerialPort DevicePort;
