#pragma once

namespace vek {

// Why a port could not be opened, from the system's code of the open error.
enum class OpenFailure { NoPermission, Absent, Busy, Other };
OpenFailure classifyOpenFailure(int systemCode);

}  // namespace vek
