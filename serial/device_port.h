#pragma once
#include "serial/serial_port.h"

// The driver's one port to the device, configured and opened by the main window.
extern SerialPort DevicePort;
