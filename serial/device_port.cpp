#include "serial/device_port.h"

SerialPort DevicePort;
