#pragma once

namespace nuv {

inline constexpr int kExitClean = 0;      // flag present, or the lifetime ran out
inline constexpr int kExitRecovered = 1;  // recovery ran, whatever its outcome
inline constexpr int kExitUsage = 2;      // wrong arguments

}  // namespace nuv
