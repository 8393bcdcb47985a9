#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <shared_mutex>
#include <string>

namespace tarnflow {

// A serial line on a POSIX tty (a real port or a pseudo-terminal slave), used the way the link
// layer expects of a COM port.
//
// Error contract
//   No operation throws. Operations report success with a bool (or a byte count) and leave the
//   reason in LastError(); a failed call changes nothing else. Calls on a port that is not open
//   fail with SerialError::NotOpen and touch no device.
//
// Thread contract
//   One owner thread opens, configures and closes. Output (WriteSome, WaitWritable) has
//   one writer at a time: the owner, or a second thread such as the link's transmit thread;
//   when both write, they serialise their calls (one lock around each write), so that bytes
//   never interleave. One reader thread may call BytesWaiting, Read and WaitForInput at the
//   same time as the writer writes. Close may be called while the reader is blocked in
//   WaitForInput or the writer in WaitWritable: the wait returns WaitResult::Closing and
//   every later call returns at once. Open, Configure and Close
//   must not run concurrently with each other; Open and Configure not with a write either.
enum class SerialError {
    None,
    NotOpen,     // the port is not open
    NotFound,    // no such device
    Busy,        // another program (or another open in this one) holds the port
    Permission,  // no access to the device (the dialout group)
    NotATty,     // the device is not a terminal
    Config,      // the line settings could not be applied
    Io           // any other system error
};

const char* SerialErrorText(SerialError error);

enum class WaitResult {
    Data,      // at least one byte is waiting (WaitForInput)
    Writable,  // the device takes output now (WaitWritable)
    Closing,   // Close was called: the reader or writer should stop
    Failed     // the device went away (hang-up) or the wait itself failed
};

struct LineSettings {
    int baudRate = 57600;
    uint8_t byteSize = 8;  // 5 to 8 data bits
    uint8_t parity = 0;    // 0 none, 1 odd, 2 even
    uint8_t stopBits = 0;  // 0 one stop bit, 2 two stop bits
};

class SerialPort {
  public:
    SerialPort();
    ~SerialPort();
    SerialPort(const SerialPort&) = delete;
    SerialPort& operator=(const SerialPort&) = delete;

    // Opens the device exclusively (no second open, by this or another program, succeeds while
    // it is held), drops DTR, discards whatever both directions had buffered and restarts
    // output, so that an XOFF left over from an earlier session cannot keep the line stopped.
    // The line settings are applied by Configure.
    bool Open(const std::string& devicePath);

    // Raw 8-bit channel with the given speed and framing: no character translation of any kind,
    // no output processing, no echo, no signals; XON/XOFF flow control on in both directions;
    // no hardware flow control; reads never block.
    bool Configure(const LineSettings& settings);

    // Wakes a pending WaitForInput, drops DTR and RTS, discards buffered data and closes the
    // device. Returns false (and does nothing) when the port was not open.
    bool Close();

    bool IsOpen() const { return fd_.load() >= 0; }

    // Discards buffered input and output.
    bool Purge();

    // Number of received bytes waiting to be read; 0 on a closed port.
    size_t BytesWaiting();

    // Reads what is waiting, at most `maximum` bytes, without blocking. Returns the count read:
    // 0 when nothing is waiting, -1 on failure.
    long Read(uint8_t* buffer, size_t maximum);

    // Writes what the device takes now, without waiting. Returns the count written (0 when the
    // output is held by XOFF or its queue is full), or -1 on failure with LastError set
    // (NotOpen when closed or being closed, Io when the device failed or hung up).
    long WriteSome(const uint8_t* bytes, size_t count);

    // Blocks until the device takes output (Writable), the port is being closed (Closing; also
    // at once on a closed port) or the device failed or hung up (Failed, LastError Io).
    WaitResult WaitWritable();

    // Blocks until a byte is waiting, the port is being closed or the device failed.
    WaitResult WaitForInput();

    SerialError LastError() const { return lastError_.load(); }
    const std::string& DevicePath() const { return devicePath_; }

  private:
    void SetError(SerialError error) { lastError_.store(error); }
    WaitResult WaitForEvents(short wanted, short& events);

    std::atomic<int> fd_{-1};
    int wakeFd_ = -1;  // eventfd signalled by Close to end a pending wait
    std::atomic<bool> closing_{false};
    std::atomic<SerialError> lastError_{SerialError::None};
    std::string devicePath_;
    // Readers and the writer hold it shared while they use the descriptor; Close holds it
    // exclusively, after waking the waiters, so the descriptor is never closed under a call.
    std::shared_mutex useMutex_;
};

}  // namespace tarnflow
