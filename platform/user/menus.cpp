// Menus: menu bars and pop-ups built from resource templates or at run time,
// their items' states, and the lookups by command and by position.
#include <windows.h>

#include <algorithm>
#include <cstring>

#include "resources/resources.h"
#include "user/user_state.h"

namespace plat::user {

namespace {

constexpr UINT kStateFlags = MF_GRAYED | MF_DISABLED | MF_CHECKED;
constexpr UINT kNotFound = 0xFFFFFFFF;

MenuRecord *menuRecord(HMENU menu) {
    auto &menus = state().menus;
    auto it = menus.find(key(menu));
    return it == menus.end() ? nullptr : it->second.get();
}

HMENU newMenu() {
    WindowSystem &s = state();
    std::uintptr_t handle = s.newHandle();
    s.menus.emplace(handle, std::make_shared<MenuRecord>());
    return handleOf<HMENU>(handle);
}

// The window whose menu bar holds `menu`, directly or through pop-ups.
HWND windowOfMenu(HMENU menu) {
    for (int depth = 0; depth < 64; ++depth) {
        MenuRecord *m = menuRecord(menu);
        if (!m) return nullptr;
        if (m->window) return m->window;
        menu = m->parentMenu;
    }
    return nullptr;
}

void changed(HMENU menu) {
    if (HWND window = windowOfMenu(menu)) notify(window, Change::Menu);
}

void build(HMENU menu, const std::vector<res::MenuItem> &items) {
    for (const res::MenuItem &item : items) {
        MenuEntry entry;
        entry.text = item.text;
        entry.id = item.id;
        entry.flags = item.flags & (kStateFlags | MF_POPUP | MF_SEPARATOR);
        if (item.flags & MF_POPUP) {
            entry.popup = newMenu();
            menuRecord(entry.popup)->parentMenu = menu;
            build(entry.popup, item.items);
            entry.id = 0;
        } else if (item.text.empty() && item.id == 0) {
            entry.flags |= MF_SEPARATOR;
        }
        menuRecord(menu)->items.push_back(std::move(entry));
    }
}

// Depth first: an item of a pop-up comes before the items after the pop-up.
std::optional<std::pair<MenuRecord *, std::size_t>> findCommand(HMENU menu, UINT id, int depth) {
    MenuRecord *m = menuRecord(menu);
    if (!m || depth > 64) return std::nullopt;
    for (std::size_t i = 0; i < m->items.size(); ++i) {
        const MenuEntry &entry = m->items[i];
        if (entry.popup) {
            if (auto found = findCommand(entry.popup, id, depth + 1)) return found;
        } else if (!(entry.flags & MF_SEPARATOR) && entry.id == id) {
            return std::make_pair(m, i);
        }
    }
    return std::nullopt;
}

}  // namespace

std::optional<std::pair<MenuRecord *, std::size_t>> findMenuItem(HMENU menu, UINT item, UINT flags) {
    if (flags & MF_BYPOSITION) {
        MenuRecord *m = menuRecord(menu);
        if (!m || item >= m->items.size()) return std::nullopt;
        return std::make_pair(m, static_cast<std::size_t>(item));
    }
    return findCommand(menu, item, 0);
}

HMENU menuFromResource(HINSTANCE instance, LPCSTR name) {
    auto items = res::loadMenu(instance, name);
    if (!items) return nullptr;
    HMENU menu = newMenu();
    build(menu, *items);
    return menu;
}

void destroyMenuTree(HMENU menu) {
    MenuRecord *m = menuRecord(menu);
    if (!m) return;
    std::vector<HMENU> popups;
    for (const MenuEntry &entry : m->items)
        if (entry.popup) popups.push_back(entry.popup);
    state().menus.erase(key(menu));
    for (HMENU popup : popups) destroyMenuTree(popup);
}

void setMenuWindow(HMENU menu, HWND window) {
    if (MenuRecord *m = menuRecord(menu)) m->window = window;
}

std::vector<MenuItemView> menuItems(HMENU menu) {
    std::vector<MenuItemView> out;
    if (MenuRecord *m = menuRecord(menu))
        for (const MenuEntry &entry : m->items) out.push_back({entry.text, entry.id, entry.flags, entry.popup});
    return out;
}

}  // namespace plat::user

using namespace plat;
using namespace plat::user;

extern "C" {

HMENU WINAPI CreateMenu(void) { return newMenu(); }

HMENU WINAPI CreatePopupMenu(void) { return newMenu(); }

BOOL WINAPI DestroyMenu(HMENU menu) {
    if (!menuRecord(menu)) return FALSE;
    destroyMenuTree(menu);
    return TRUE;
}

BOOL WINAPI SetMenu(HWND window, HMENU menu) {
    auto w = lookup(window);
    if (!w || (w->style & WS_CHILD) || (menu && !menuRecord(menu))) return FALSE;
    if (w->menu) setMenuWindow(w->menu, nullptr);  // the old menu is the caller's to destroy
    w->menu = menu;
    if (menu) setMenuWindow(menu, window);
    notify(window, Change::Menu);
    return TRUE;
}

HMENU WINAPI GetMenu(HWND window) {
    auto w = lookup(window);
    return w && !(w->style & WS_CHILD) ? w->menu : nullptr;
}

HMENU WINAPI GetSubMenu(HMENU menu, int position) {
    MenuRecord *m = menuRecord(menu);
    if (!m || position < 0 || static_cast<std::size_t>(position) >= m->items.size()) return nullptr;
    return m->items[position].popup;
}

int WINAPI GetMenuItemCount(HMENU menu) {
    MenuRecord *m = menuRecord(menu);
    return m ? static_cast<int>(m->items.size()) : -1;
}

UINT WINAPI GetMenuItemID(HMENU menu, int position) {
    MenuRecord *m = menuRecord(menu);
    if (!m || position < 0 || static_cast<std::size_t>(position) >= m->items.size()) return kNotFound;
    const MenuEntry &entry = m->items[position];
    if (entry.popup) return kNotFound;
    return entry.id;
}

UINT WINAPI GetMenuState(HMENU menu, UINT item, UINT flags) {
    auto found = findMenuItem(menu, item, flags);
    if (!found) return kNotFound;
    const MenuEntry &entry = found->first->items[found->second];
    if (entry.popup) {
        // A pop-up reports its item count in the high byte.
        UINT count = static_cast<UINT>(GetMenuItemCount(entry.popup));
        return (count << 8) | (entry.flags & 0xFF);
    }
    return entry.flags;
}

int WINAPI GetMenuStringA(HMENU menu, UINT item, LPSTR buffer, int maxCount, UINT flags) {
    auto found = findMenuItem(menu, item, flags);
    if (!found) return 0;
    const std::string &text = found->first->items[found->second].text;
    if (!buffer || maxCount <= 0) return static_cast<int>(text.size());
    std::size_t n = std::min(text.size(), static_cast<std::size_t>(maxCount - 1));
    std::memcpy(buffer, text.data(), n);
    buffer[n] = '\0';
    return static_cast<int>(n);
}

BOOL WINAPI EnableMenuItem(HMENU menu, UINT item, UINT enable) {
    auto found = findMenuItem(menu, item, enable);
    if (!found) return -1;
    MenuEntry &entry = found->first->items[found->second];
    const UINT previous = entry.flags & (MF_GRAYED | MF_DISABLED);
    entry.flags = (entry.flags & ~(MF_GRAYED | MF_DISABLED)) | (enable & (MF_GRAYED | MF_DISABLED));
    changed(menu);
    return static_cast<BOOL>(previous);
}

DWORD WINAPI CheckMenuItem(HMENU menu, UINT item, UINT check) {
    auto found = findMenuItem(menu, item, check);
    if (!found) return kNotFound;
    MenuEntry &entry = found->first->items[found->second];
    const DWORD previous = entry.flags & MF_CHECKED;
    entry.flags = (entry.flags & ~MF_CHECKED) | (check & MF_CHECKED);
    changed(menu);
    return previous;
}

BOOL WINAPI AppendMenuA(HMENU menu, UINT flags, UINT_PTR id, LPCSTR text) {
    MenuRecord *m = menuRecord(menu);
    if (!m) return FALSE;
    MenuEntry entry;
    entry.flags = flags & (kStateFlags | MF_POPUP | MF_SEPARATOR);
    if (flags & MF_SEPARATOR) {
        entry.flags = MF_SEPARATOR;
    } else {
        entry.text = text ? text : "";
        if (flags & MF_POPUP) {
            HMENU popup = handleOf<HMENU>(id);
            MenuRecord *p = menuRecord(popup);
            if (!p) return FALSE;
            p->parentMenu = menu;
            entry.popup = popup;
        } else {
            entry.id = static_cast<UINT>(id);
        }
    }
    m->items.push_back(std::move(entry));
    changed(menu);
    return TRUE;
}

BOOL WINAPI DrawMenuBar(HWND window) {
    if (!lookup(window)) return FALSE;
    notify(window, Change::Menu);
    return TRUE;
}

}  // extern "C"
