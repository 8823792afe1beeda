#include "module/holder_table.h"

#include <new>

bool HolderTable::Add(const void* object) {
    try {
        ++m_extra[object];
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

bool HolderTable::Drop(const void* object) {
    const auto it = m_extra.find(object);
    if (it == m_extra.end()) {
        return true;
    }
    if (--it->second == 0) {
        m_extra.erase(it);
    }
    return false;
}
