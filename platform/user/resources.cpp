// Lookups in the program's linked resources (kept apart: only users of resources need them).
#include <map>

#include "platform/user/window_tree.h"

const DialogTemplate* FindDialogTemplate(UINT id) {
    for (const auto& d : wce::g_moduleResources.dialogs)
        if (d.id == id) return d.tmpl;
    return nullptr;
}

HICON LoadIconW(HINSTANCE, int resourceId) {
    static std::map<int, IconObject> loaded;
    if (auto it = loaded.find(resourceId); it != loaded.end()) return &it->second;
    for (const auto& icon : wce::g_moduleResources.icons)
        if (static_cast<int>(icon.id) == resourceId && !icon.images.empty())
            return &loaded.emplace(resourceId, IconObject{&icon}).first->second;
    SetLastError(ERROR_FILE_NOT_FOUND);
    return nullptr;
}
