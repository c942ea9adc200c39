#pragma once

class Sio;

// How the program's side of the line starts: the converter type and the
// program's default network settings.

// The converter types of the menu "Преобразователь", which are the port's
// transmission modes.
namespace ConverterType {
constexpr int kSemiAutomatic = 0;  // the program switches the transmitter with RTS, byte by byte
constexpr int kAutomatic = 1;      // the adapter switches itself; the frame goes out whole
}  // namespace ConverterType

// Values of the "rs485" command-line option.
namespace Rs485Option {
constexpr int kNotGiven = 0;
constexpr int kAuto = 1;  // "auto"
constexpr int kOff = 2;   // "off"
constexpr int kOn = 3;    // "on"
}  // namespace Rs485Option

// The converter type of a run: from the option when given ("off" gives the
// automatic converter, "auto" and "on" the semi-automatic one), else from the
// setting "RS485type" (default 0); any non-zero value counts as 1.
int DecideConverterType(int rs485Option);

// Puts the program's default network settings into the port's settings:
// 9600 bit/s, 8 data bits, no parity, 1 stop bit, 8-bit addresses, address 16.
void ApplyDefaultNetworkSettings(Sio& port);
