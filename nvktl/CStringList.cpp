#include "nvktl/CStringList.h"

namespace NVKTL {

int CStringList::Find(std::string_view text) const {
    CCriticalLock guard(&m_lock);
    for (std::size_t i = 0; i < m_cells.size(); ++i) {
        if (m_cells[i].str() == text)
            return static_cast<int>(i);
    }
    return -1;
}

} // namespace NVKTL
