#pragma once

#include <stdexcept>
#include <string>

namespace vek {

// Error of the serial port layer: the component's error number and the system's errno (-1 when
// none). The message is the code's text, followed by " (win error code: N)" when a system code is
// given, so that a technician's report reads the same on every platform.
class EComPort : public std::runtime_error {
  public:
    explicit EComPort(int errorCode, int systemCode = -1);

    int ErrorCode() const { return errorCode_; }
    int SystemCode() const { return systemCode_; }

    // The text of a component error number; an empty text for numbers outside the table.
    static const char* textOf(int errorCode);

  private:
    int errorCode_;
    int systemCode_;
};

}  // namespace vek
