#pragma once

namespace vek {

// Sets a rate that has no B constant through termios2/BOTHER, leaving the other settings as they
// are. Returns 0, or the errno of the failed call. Kept apart: <asm/termbits.h> and <termios.h>
// cannot share a file.
int setOtherSpeed(int fd, int rate);

}  // namespace vek
