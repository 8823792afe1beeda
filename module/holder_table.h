// Counts of the holders of objects that copies of a strip share. The objects (GDI handles, MFC
// wrappers, the dithering object) carry no count of their own, so a class whose copies share
// them keeps a table of the holders beyond the first, keyed by the object's identity: an object
// without an entry has a single holder, and only the last holder to let go deletes it. Each class
// keeps its own table, so a handle value of one never meets an address of the other's. The
// library runs on the client's user-interface thread only, so a table takes no lock. Internal to
// the library.
#pragma once

#include <unordered_map>

class HolderTable {
public:
    // One more holder of `object`; false (and nothing counted) when memory runs out.
    bool Add(const void* object);
    // One holder fewer; true when that was the last one and the caller must delete the object.
    bool Drop(const void* object);

    // `object` with one more holder counted, for a copy to take. Null for a null object, and for
    // one whose holder cannot be counted: the copy leaves that object out (as if it had not been
    // made) rather than share it uncounted and risk a double release.
    template <class T> T Hold(T object) {
        return object != nullptr && Add(object) ? object : nullptr;
    }

private:
    std::unordered_map<const void*, unsigned> m_extra;
};
