#include "detect/detect.h"

namespace mek {

// Until the other codecs and their tests exist, undetected input is UTF-8.
int detectEncoding(const std::uint8_t*, const std::uint8_t*) { return 4; }

}  // namespace mek
