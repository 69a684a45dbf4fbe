#include "nvktl/CWinSock.h"

namespace NVKTL {

CWinSock::CWinSock(unsigned short /*version*/) {}

CWinSock::~CWinSock() = default;

} // namespace NVKTL
