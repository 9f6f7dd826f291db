// The driver's two process-wide objects, in one file so that their order is fixed: the infodriver
// client is constructed first and destroyed last, after the serial port has closed its port.
#include "infodriver/client.h"
#include "serial/device_port.h"

InfodriverClient Infodriver(CLIENT_HEADER_VERSION);
SerialPort DevicePort;
