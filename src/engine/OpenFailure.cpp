#include "engine/OpenFailure.h"

namespace tarnflow {

namespace {

std::string PermissionAdvice() {
    return "permission denied. Add yourself to the dialout group (sudo usermod -aG dialout "
           "$USER, then log in again) or install the udev rule packaging/60-tarnflow.rules in "
           "/etc/udev/rules.d/ (then sudo udevadm control --reload and plug the phone in again).";
}

std::string BusyAdvice(const std::string& device) {
    return "the port is held by another program (a terminal program, ModemManager or another "
           "Tarnflow). Close it and try again; sudo fuser -v " +
           device + " shows who holds it.";
}

std::string Advice(const std::string& device, SerialError error) {
    switch (error) {
        case SerialError::Permission:
            return PermissionAdvice();
        case SerialError::Busy:
            return BusyAdvice(device);
        case SerialError::NotATty:
            return "not a serial device. Choose the phone's serial port (a /dev/ttyACM* node).";
        case SerialError::NotFound:
            return "the device is gone. Check that the phone is plugged in and in download "
                   "mode, then search for the ports again.";
        default:
            return std::string("cannot open the port: ") + SerialErrorText(error) + ".";
    }
}

}  // namespace

std::string OpenFailureText(const std::string& device, SerialError error) {
    return device + ": " + Advice(device, error);
}

}  // namespace tarnflow
