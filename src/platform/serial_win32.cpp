// Serial ports on Windows through the Win32 communications API.

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <algorithm>
#include <iterator>
#include <string_view>

#include "platform/clock.h"
#include "platform/serial.h"
#include "platform/text.h"

namespace platform {

namespace {

HANDLE handleOf(std::intptr_t handle) {
    return reinterpret_cast<HANDLE>(handle);
}

// The system's text for an error code, in UTF-8 like the rest of lastError()
// (the ANSI text would mix code pages into it).
std::string systemErrorText(DWORD code) {
    wchar_t buffer[512] = {};
    const DWORD n =
        FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0,
                       buffer, static_cast<DWORD>(std::size(buffer)), nullptr);
    std::string text = toUtf8(std::u16string(buffer, buffer + n));
    while (!text.empty() &&
           (text.back() == '\r' || text.back() == '\n' || text.back() == '.' || text.back() == ' '))
        text.pop_back();
    if (text.empty()) text = "system error " + std::to_string(code);
    return text;
}

// The name of the mutex that marks the port as held: "COM1", "com1" and
// "\\.\COM1" name the same port.
std::wstring portLockName(const std::string& devicePath) {
    std::string_view device = devicePath;
    if (device.size() > 4 && device.substr(0, 4) == "\\\\.\\") device.remove_prefix(4);
    std::wstring name = L"Local\\servo-tool.serial-port.";
    for (const char16_t c : fromUtf8(device)) {
        wchar_t w = static_cast<wchar_t>(c);
        if (w >= L'a' && w <= L'z') w = static_cast<wchar_t>(w - L'a' + L'A');
        name.push_back(w == L'\\' ? L'/' : w);
    }
    return name;
}

// The reason an open failed, in words that name the usual causes.
std::string openErrorText(DWORD code) {
    switch (code) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
            return "no such port (" + systemErrorText(code) + ")";
        case ERROR_ACCESS_DENIED:
        case ERROR_SHARING_VIOLATION:
            return "port is in use by another program, or access is denied (" +
                   systemErrorText(code) + ")";
        default:
            return systemErrorText(code);
    }
}

}  // namespace

std::string defaultComDevicePath(unsigned n) {
    return "\\\\.\\COM" + std::to_string(n);
}

SerialPort::~SerialPort() {
    close();
}

bool SerialPort::open(const std::string& devicePath) {
    close();
    path_ = devicePath;
    error_.clear();
    pendingByte_ = -1;
    waitTimeoutMs_ = 0;
    const std::u16string wide = fromUtf8(devicePath);
    const std::wstring name(wide.begin(), wide.end());
    // Taken before the device is touched, so that a second instance leaves the
    // first one's line alone. Without the mutex the open's own refusal below
    // still guards the port.
    HANDLE lock = CreateMutexW(nullptr, FALSE, portLockName(devicePath).c_str());
    if (lock != nullptr && GetLastError() == ERROR_ALREADY_EXISTS) {
        CloseHandle(lock);
        fail("cannot open", "port is in use by another program");
        return false;
    }
    // Not shared: a port that another program holds is refused.
    HANDLE h = CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0,
                           nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        fail("cannot open", openErrorText(GetLastError()));
        if (lock != nullptr) CloseHandle(lock);
        return false;
    }
    // Only a communications device has a line state: anything else (a file, a
    // port whose device has gone) is refused here rather than at configure().
    DCB dcb{};
    dcb.DCBlength = sizeof(dcb);
    if (!GetCommState(h, &dcb)) {
        fail("cannot open", "not a serial device (" + systemErrorText(GetLastError()) + ")");
        CloseHandle(h);
        if (lock != nullptr) CloseHandle(lock);
        return false;
    }
    SetCommMask(h, EV_RXCHAR);
    SetupComm(h, 1024, 1024);
    handle_ = reinterpret_cast<std::intptr_t>(h);
    portLock_ = reinterpret_cast<std::intptr_t>(lock);
    return true;
}

bool SerialPort::configure(const SerialLineSettings& s) {
    if (!isOpen()) return false;
    HANDLE h = handleOf(handle_);
    DCB dcb{};
    dcb.DCBlength = sizeof(dcb);
    if (!GetCommState(h, &dcb)) {
        fail("cannot configure", systemErrorText(GetLastError()));
        return false;
    }
    dcb.BaudRate = s.baudRate;
    dcb.ByteSize = s.dataBits;
    dcb.Parity = s.parity;
    dcb.StopBits = s.stopBits;
    dcb.fBinary = 1;
    dcb.fParity = 1;
    dcb.fDtrControl = DTR_CONTROL_DISABLE;
    dcb.fRtsControl = RTS_CONTROL_DISABLE;
    dcb.fOutX = 0;
    dcb.fInX = 0;
    dcb.fTXContinueOnXoff = 0;
    if (!SetCommState(h, &dcb)) {
        fail("cannot configure", systemErrorText(GetLastError()));
        return false;
    }
    return true;
}

bool SerialPort::setTimeouts(const SerialTimeouts& t) {
    if (!isOpen()) return false;
    COMMTIMEOUTS ct{};
    ct.ReadIntervalTimeout = t.readIntervalMs;
    ct.ReadTotalTimeoutMultiplier = t.readTotalMultiplierMs;
    ct.ReadTotalTimeoutConstant = t.readTotalConstantMs;
    ct.WriteTotalTimeoutMultiplier = t.writeTotalMultiplierMs;
    ct.WriteTotalTimeoutConstant = t.writeTotalConstantMs;
    if (!SetCommTimeouts(handleOf(handle_), &ct)) {
        fail("cannot configure", systemErrorText(GetLastError()));
        return false;
    }
    timeouts_ = t;
    waitTimeoutMs_ = 0;
    return true;
}

bool SerialPort::purge() {
    if (!isOpen()) return false;
    pendingByte_ = -1;
    if (!PurgeComm(handleOf(handle_), PURGE_TXCLEAR | PURGE_RXCLEAR)) {
        fail("cannot purge", systemErrorText(GetLastError()));
        return false;
    }
    return true;
}

void SerialPort::close() {
    if (!isOpen()) return;
    HANDLE h = handleOf(handle_);
    SetCommMask(h, 0);
    PurgeComm(h, PURGE_TXCLEAR | PURGE_RXCLEAR);
    CloseHandle(h);
    handle_ = kInvalidHandle;
    pendingByte_ = -1;
    if (portLock_ != 0) {
        CloseHandle(reinterpret_cast<HANDLE>(portLock_));
        portLock_ = 0;
    }
}

std::size_t SerialPort::bytesWaiting() {
    if (!isOpen()) return 0;
    DWORD errors = 0;
    COMSTAT status{};
    const std::size_t pending = pendingByte_ >= 0 ? 1 : 0;
    if (!ClearCommError(handleOf(handle_), &errors, &status)) return pending;
    return pending + status.cbInQue;
}

std::size_t SerialPort::read(std::uint8_t* buffer, std::size_t capacity) {
    if (!isOpen() || capacity == 0) return 0;
    std::size_t n = 0;
    if (pendingByte_ >= 0) {
        buffer[n++] = static_cast<std::uint8_t>(pendingByte_);
        pendingByte_ = -1;
    }
    DWORD errors = 0;
    COMSTAT status{};
    if (n < capacity && ClearCommError(handleOf(handle_), &errors, &status) && status.cbInQue > 0) {
        const DWORD take = static_cast<DWORD>(std::min<std::size_t>(status.cbInQue, capacity - n));
        DWORD got = 0;
        if (ReadFile(handleOf(handle_), buffer + n, take, &got, nullptr))
            n += got;
        else
            fail("cannot read", systemErrorText(GetLastError()));
    }
    return n;
}

bool SerialPort::write(const std::uint8_t* data, std::size_t count) {
    if (!isOpen()) return false;
    DWORD written = 0;
    if (!WriteFile(handleOf(handle_), data, static_cast<DWORD>(count), &written, nullptr)) {
        fail("cannot write to", systemErrorText(GetLastError()));
        return false;
    }
    if (written != count) {
        fail("cannot write to", "write timed out");
        return false;
    }
    return true;
}

bool SerialPort::waitReadable(std::uint64_t timeoutMicros) {
    if (!isOpen()) {
        sleepMicros(timeoutMicros);
        return false;
    }
    if (pendingByte_ >= 0) return true;
    HANDLE h = handleOf(handle_);
    DWORD errors = 0;
    COMSTAT status{};
    // A device that cannot report its state has failed (unplugged, gone): a
    // read on it may fail at once or, under Wine, spin until its time-out, so
    // the wait is a sleep.
    if (!ClearCommError(h, &errors, &status)) {
        sleepMicros(timeoutMicros);
        return false;
    }
    if (status.cbInQue > 0) return true;
    // Serial time-outs count whole milliseconds. The whole milliseconds are
    // waited in a read; the rest (under one millisecond, e.g. the end of an
    // RTU frame's 2.3 ms silence) is watched for bytes, yielding the processor
    // between looks, so that a frame's end is not found up to a millisecond late.
    if (timeoutMicros < 1000) {
        const std::uint64_t deadline = monotonicMicros() + timeoutMicros;
        for (;;) {
            if (!ClearCommError(h, &errors, &status)) return false;
            if (status.cbInQue > 0) return true;
            if (monotonicMicros() >= deadline) return false;
            SwitchToThread();
        }
    }
    const DWORD ms =
        static_cast<DWORD>(std::min<std::uint64_t>(timeoutMicros / 1000, MAXDWORD - 1));
    // A read of one byte bounded by the time left: with both interval and
    // multiplier at MAXDWORD, ReadFile returns as soon as a byte arrives, or
    // empty after the constant. The byte is kept for the next read().
    if (waitTimeoutMs_ != ms) {
        COMMTIMEOUTS ct{};
        ct.ReadIntervalTimeout = MAXDWORD;
        ct.ReadTotalTimeoutMultiplier = MAXDWORD;
        ct.ReadTotalTimeoutConstant = ms;
        ct.WriteTotalTimeoutMultiplier = timeouts_.writeTotalMultiplierMs;
        ct.WriteTotalTimeoutConstant = timeouts_.writeTotalConstantMs;
        if (!SetCommTimeouts(h, &ct)) {
            Sleep(ms);
            return bytesWaiting() > 0;
        }
        waitTimeoutMs_ = ms;
    }
    const std::uint64_t start = monotonicMicros();
    std::uint8_t byte = 0;
    DWORD got = 0;
    if (ReadFile(h, &byte, 1, &got, nullptr)) {
        if (got == 1) {
            pendingByte_ = byte;
            return true;
        }
        return false;
    }
    // A failing device is treated as silence for the whole time.
    const std::uint64_t spent = monotonicMicros() - start;
    if (spent < timeoutMicros) sleepMicros(timeoutMicros - spent);
    return false;
}

}  // namespace platform
