#include "link/port_setup.h"

#include "link/sio.h"
#include "platform/settings_store.h"

int DecideConverterType(int rs485Option) {
    switch (rs485Option) {
        case Rs485Option::kOff:
            return ConverterType::kAutomatic;
        case Rs485Option::kAuto:
        case Rs485Option::kOn:
            return ConverterType::kSemiAutomatic;
        default:
            break;
    }
    return SettingsStore::Instance().ReadNumber("RS485type", 0) != 0
               ? ConverterType::kAutomatic
               : ConverterType::kSemiAutomatic;
}

void ApplyDefaultNetworkSettings(Sio& port) {
    port.speed = 9600;
    port.byteSize = 8;
    port.parityCode = 3;    // "No Parity"
    port.stopBitsCode = 0;  // "1"
    port.addressLength = 8;
    port.deviceAddress = 16;
}
