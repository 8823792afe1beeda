// Handle-to-wrapper maps behind FromHandle, Attach and Detach (the rules are documented at the
// top of afxwin.h). One map per handle kind: GDI objects, DCs, image lists.
#pragma once

#include "afx_no_throw.h"
#include "afx_testing.h"

#include <algorithm>
#include <cstddef>
#include <map>
#include <memory>
#include <typeindex>
#include <typeinfo>
#include <unordered_map>
#include <utility>

namespace afx_internal {

// Every map registers its temporaries here so that AfxUnlockTempMaps and process exit can
// delete them all, and tests can count them.
using DeleteTemporaries = void (*)();
using CountTemporaries = std::size_t (*)();
void register_temporaries(DeleteTemporaries delete_fn, CountTemporaries count_fn);

// Traits: Handle, Base, static void assign(Base*, Handle), static bool alive(Handle).
template <class Traits> class HandleMap {
public:
    using Handle = typename Traits::Handle;
    using Base = typename Traits::Base;

    // The map lives on the heap and is never destroyed, so that wrappers destroyed during
    // static destruction (a global CBitmap, a module's detach at exit) can still unregister.
    static HandleMap& instance() {
        static HandleMap* map = [] {
            auto* m = new HandleMap;
            register_temporaries([] { HandleMap::instance().delete_temporaries(); },
                                 [] { return HandleMap::instance().temporary_count(); });
            return m;
        }();
        return *map;
    }

    Base* owner(Handle h) const {
        auto it = owners_.find(h);
        return it == owners_.end() ? nullptr : it->second;
    }

    // False when h has an owner already, or when there is no memory to note this one (the
    // wrapper's Attach then fails like a failed creation).
    bool add_owner(Handle h, Base* w) {
        return afx_internal::no_throw<bool>(false, [&] { return owners_.emplace(h, w).second; });
    }

    void remove_owner(Handle h, const Base* w) {
        auto it = owners_.find(h);
        if (it != owners_.end() && it->second == w) {
            owners_.erase(it);
        }
    }

    // The owner of h when it is a T, else the temporary T for h (made on first request); null
    // when there is no memory for a temporary.
    template <class T> T* from_handle(Handle h) {
        if (h == nullptr) {
            return nullptr;
        }
        if (T* w = dynamic_cast<T*>(owner(h))) {
            return w;
        }
        const Key key{h, std::type_index(typeid(T))};
        auto it = temporaries_.find(key);
        if (it != temporaries_.end()) {
            return static_cast<T*>(it->second);
        }
        return afx_internal::no_throw<T*>(nullptr, [&]() -> T* {
            prune();
            auto made = std::make_unique<T>();
            Traits::assign(made.get(), h);
            temporaries_.emplace(key, made.get());
            return made.release();
        });
    }

    void delete_temporaries() {
        // Take the map first: a destructor must never see a half-emptied map.
        auto doomed = std::move(temporaries_);
        temporaries_.clear();
        for (auto& entry : doomed) {
            release(entry.second);
        }
        prune_at_ = kMinPrune;
    }

    std::size_t temporary_count() const { return temporaries_.size(); }

private:
    using Key = std::pair<Handle, std::type_index>;
    static constexpr std::size_t kMinPrune = 256;

    HandleMap() = default;

    static void release(Base* w) {
        // A temporary never owns its handle: clear it so the destructor leaves it alone.
        Traits::assign(w, nullptr);
        delete w;
    }

    // Drops the temporaries of destroyed handles once the map has doubled since the last look,
    // which keeps a program that never idles at a size bounded by its live handles.
    void prune() {
        if (temporaries_.size() < prune_at_) {
            return;
        }
        for (auto it = temporaries_.begin(); it != temporaries_.end();) {
            if (!Traits::alive(it->first.first)) {
                release(it->second);
                it = temporaries_.erase(it);
            } else {
                ++it;
            }
        }
        prune_at_ = std::max(kMinPrune, 2 * temporaries_.size());
    }

    std::unordered_map<Handle, Base*> owners_;
    std::map<Key, Base*> temporaries_;
    std::size_t prune_at_ = kMinPrune;
};

} // namespace afx_internal
