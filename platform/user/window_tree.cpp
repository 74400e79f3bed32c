// Classes and windows: registration, creation with its creation messages,
// destruction of a window with its children and owned windows, showing,
// enabling, focus, titles and geometry.
#include <windows.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <limits>

#include "core/session.h"
#include "resources/resources.h"
#include "user/dialog_system.h"
#include "user/user_state.h"

namespace plat::user {

namespace {

// The fixed non-client frame of a window: border, caption and menu bar.
constexpr int kCaptionHeight = 19;
constexpr int kMenuBarHeight = 19;
// Size and cascade step of windows placed by CW_USEDEFAULT.
constexpr int kDefaultWidth = 640;
constexpr int kDefaultHeight = 480;
constexpr int kCascadeStep = 24;
// Windows placed by CW_USEDEFAULT start beside the others up to this x.
constexpr int kSideBySideLimit = 1280;

int borderWidth(DWORD style) {
    if (style & WS_THICKFRAME) return 4;
    if (style & WS_DLGFRAME) return 3;
    if (style & WS_BORDER) return 1;
    return 0;
}

RECT frameInsets(const WindowRecord &w) {
    const int border = borderWidth(w.style);
    int top = border;
    if ((w.style & WS_CAPTION) == WS_CAPTION) top += kCaptionHeight;
    if (!(w.style & WS_CHILD) && w.menu) top += kMenuBarHeight;
    return RECT{border, top, border, border};
}

// The screen position of a window's client area origin.
POINT clientOrigin(const WindowRecord &w) {
    RECT insets = frameInsets(w);
    POINT p{w.rect.left + insets.left, w.rect.top + insets.top};
    if (w.style & WS_CHILD) {
        if (auto parent = lookup(w.parent)) {
            POINT base = clientOrigin(*parent);
            p.x += base.x;
            p.y += base.y;
        }
    }
    return p;
}

void setFocusTo(HWND window) {
    WindowSystem &s = state();
    HWND old = s.focus;
    if (old == window) return;
    s.focus = window;
    if (window) s.active = topLevelOf(window);
    if (auto w = lookup(old); w && !w->destroying) callWindowProc(w, WM_KILLFOCUS, reinterpret_cast<WPARAM>(window), 0);
    if (auto w = lookup(window)) callWindowProc(w, WM_SETFOCUS, reinterpret_cast<WPARAM>(old), 0);
    notify(window ? window : old, Change::Focus);
}

void sendGeometry(const std::shared_ptr<WindowRecord> &w, bool moved, bool sized) {
    RECT client = clientRectOf(*w);
    if (sized) callWindowProc(w, WM_SIZE, 0, MAKELPARAM(client.right, client.bottom));
    if (moved) {
        POINT origin = clientOrigin(*w);
        if (w->style & WS_CHILD)
            if (auto parent = lookup(w->parent)) {
                POINT base = clientOrigin(*parent);
                origin.x -= base.x;
                origin.y -= base.y;
            }
        callWindowProc(w, WM_MOVE, 0, MAKELPARAM(origin.x, origin.y));
    }
}

void invalidateTree(WindowRecord &w) {
    invalidate(w, nullptr, true);
    for (HWND child : w.children)
        if (auto c = lookup(child)) invalidateTree(*c);
}

// WM_DESTROY goes to a window before its children; everything the window
// owns on the platform goes after its children are gone.
void sendDestroy(const std::shared_ptr<WindowRecord> &w) {
    w->destroying = true;
    callWindowProc(w, WM_DESTROY, 0, 0);
    for (HWND child : std::vector<HWND>(w->children))
        if (auto c = lookup(child); c && !c->destroying) sendDestroy(c);
}

void release(const std::shared_ptr<WindowRecord> &w) {
    for (HWND child : std::vector<HWND>(w->children))
        if (auto c = lookup(child)) release(c);
    callWindowProc(w, WM_NCDESTROY, 0, 0);
    WindowSystem &s = state();
    killTimersOf(w->handle);
    dropMessagesFor(w->handle);
    if (w->menu && !(w->style & WS_CHILD)) destroyMenuTree(w->menu);
    if (auto parent = lookup(w->parent)) std::erase(parent->children, w->handle);
    if (s.focus == w->handle) s.focus = nullptr;
    if (s.active == w->handle) s.active = nullptr;
    s.windows.erase(key(w->handle));
    notify(w->handle, Change::Destroyed);
}

// One handle per loaded icon or cursor, so loading it again gives the same handle.
std::uintptr_t internIcon(HINSTANCE instance, LPCSTR name, std::string_view kind) {
    // Appended piece by piece: GCC 12 at -O3 takes the temporaries of a
    // chain of string additions for overlapping copies (-Wrestrict).
    IconInfo info{instance, std::string(kind)};
    info.name += ':';
    if (IS_INTRESOURCE(name)) {
        info.name += '#';
        info.name += std::to_string(reinterpret_cast<ULONG_PTR>(name));
    } else {
        info.name += name;
    }
    WindowSystem &s = state();
    for (auto &[handle, known] : s.icons)
        if (known.instance == info.instance && known.name == info.name) return handle;
    std::uintptr_t handle = s.newHandle();
    s.icons.emplace(handle, std::move(info));
    return handle;
}

}  // namespace

WindowSystem &state() { return session().component<WindowSystem>(); }

std::shared_ptr<WindowRecord> lookup(HWND window) {
    if (!window) return nullptr;
    WindowSystem &s = state();
    auto it = s.windows.find(key(window));
    return it == s.windows.end() ? nullptr : it->second;
}

std::string lowerCase(std::string_view text) {
    std::string out(text);
    for (char &c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

void notify(HWND window, Change change) {
    WindowSystem &s = state();
    // Observers may subscribe and unsubscribe while notified, so each is
    // found by the token after the last one called. A display hears of
    // every live video frame: nothing here allocates.
    for (int last = std::numeric_limits<int>::min();;) {
        auto it = s.observers.upper_bound(last);
        if (it == s.observers.end()) return;
        last = it->first;
        const std::shared_ptr<const Observer> observer = it->second;
        (*observer)(window, change);
    }
}

LRESULT callWindowProc(const std::shared_ptr<WindowRecord> &w, UINT message, WPARAM wParam, LPARAM lParam) {
    std::shared_ptr<WindowRecord> keep = w;  // the procedure may destroy its own window
    std::shared_ptr<WindowClass> cls = w->windowClass;
    if (cls->wndProc) return cls->wndProc(w->handle, message, wParam, lParam);
    if (cls->proc) return cls->proc(w->handle, message, wParam, lParam);
    return DefWindowProcA(w->handle, message, wParam, lParam);
}

RECT clientRectOf(const WindowRecord &w) {
    RECT insets = frameInsets(w);
    LONG width = w.rect.right - w.rect.left - insets.left - insets.right;
    LONG height = w.rect.bottom - w.rect.top - insets.top - insets.bottom;
    return RECT{0, 0, std::max<LONG>(width, 0), std::max<LONG>(height, 0)};
}

bool isVisible(const WindowRecord &w) {
    if (!(w.style & WS_VISIBLE)) return false;
    if (!(w.style & WS_CHILD)) return true;
    auto parent = lookup(w.parent);
    return parent && isVisible(*parent);
}

HWND topLevelOf(HWND window) {
    auto w = lookup(window);
    while (w && (w->style & WS_CHILD)) {
        auto parent = lookup(w->parent);
        if (!parent) break;
        w = parent;
    }
    return w ? w->handle : nullptr;
}

bool acceptsInput(HWND window) {
    for (auto w = lookup(window); w; w = (w->style & WS_CHILD) ? lookup(w->parent) : nullptr) {
        if (w->destroying || (w->style & WS_DISABLED)) return false;
        if (!(w->style & WS_CHILD)) return true;
    }
    return false;
}

// ---- The internal model ---------------------------------------------------------

void registerClass(std::string_view name, WindowProc proc, UINT classStyle) {
    auto cls = std::make_shared<WindowClass>();
    cls->name = std::string(name);
    cls->proc = std::move(proc);
    cls->style = classStyle;
    state().classes[lowerCase(name)] = std::move(cls);
}

bool classExists(std::string_view name) { return state().classes.contains(lowerCase(name)); }

const Window *find(HWND window) { return lookup(window).get(); }

namespace detail {
std::shared_ptr<void> *dataSlot(HWND window) {
    auto w = lookup(window);
    return w ? &w->data : nullptr;
}
}  // namespace detail

std::vector<HWND> windows() {
    std::vector<HWND> out;
    for (auto &[id, w] : state().windows) out.push_back(w->handle);
    return out;
}

std::vector<HWND> topLevelWindows() {
    std::vector<HWND> out;
    for (auto &[id, w] : state().windows)
        if (!(w->style & WS_CHILD)) out.push_back(w->handle);
    return out;
}

std::vector<HWND> children(HWND parent) {
    auto w = lookup(parent);
    return w ? w->children : std::vector<HWND>{};
}

HWND childById(HWND parent, int controlId) {
    for (HWND child : children(parent))
        if (auto c = lookup(child); c && c->controlId == controlId) return child;
    return nullptr;
}

bool isDescendant(HWND window, HWND ancestor) {
    for (auto w = lookup(window); w; w = (w->style & WS_CHILD) ? lookup(w->parent) : nullptr)
        if (w->handle == ancestor) return true;
    return false;
}

HWND focus() { return state().focus; }
HWND activeWindow() { return state().active; }

int subscribe(Observer observer) {
    WindowSystem &s = state();
    int token = s.nextObserver++;
    s.observers.emplace(token, std::make_shared<const Observer>(std::move(observer)));
    return token;
}

void unsubscribe(int token) { state().observers.erase(token); }

bool activate(HWND window) {
    HWND top = topLevelOf(window);
    auto w = lookup(top);
    if (!w || !acceptsInput(top) || !isVisible(*w)) return false;
    if (!isDescendant(state().focus, top)) setFocusTo(top);
    state().active = top;
    return true;
}

}  // namespace plat::user

using namespace plat;
using namespace plat::user;

extern "C" {

ATOM WINAPI RegisterClassExA(const WNDCLASSEXA *wc) {
    if (!wc || wc->cbSize != sizeof(WNDCLASSEXA) || !wc->lpszClassName || !wc->lpfnWndProc) return 0;
    if (IS_INTRESOURCE(wc->lpszClassName)) return 0;  // atoms as class names are not used
    WindowSystem &s = state();
    std::string name = lowerCase(wc->lpszClassName);
    if (s.classes.contains(name)) return 0;  // the class already exists
    auto cls = std::make_shared<WindowClass>();
    cls->name = wc->lpszClassName;
    cls->style = wc->style;
    cls->wndProc = wc->lpfnWndProc;
    cls->instance = wc->hInstance;
    cls->icon = wc->hIcon;
    cls->smallIcon = wc->hIconSm;
    cls->cursor = wc->hCursor;
    cls->background = wc->hbrBackground;
    if (wc->lpszMenuName) {
        if (IS_INTRESOURCE(wc->lpszMenuName))
            cls->menuOrdinal = static_cast<WORD>(reinterpret_cast<ULONG_PTR>(wc->lpszMenuName));
        else
            cls->menuName = wc->lpszMenuName;
    }
    s.classes.emplace(std::move(name), std::move(cls));
    return s.nextAtom++;
}

HWND WINAPI CreateWindowExA(DWORD exStyle, LPCSTR className, LPCSTR windowName, DWORD style, int x, int y, int width,
                            int height, HWND parent, HMENU menu, HINSTANCE instance, LPVOID param) {
    WindowSystem &s = state();
    if (!className || IS_INTRESOURCE(className)) return nullptr;
    // The system's own control classes (BUTTON, STATIC ...) serve any window,
    // not only dialogs, as on Windows.
    ensureDialogClasses();
    auto clsIt = s.classes.find(lowerCase(className));
    if (clsIt == s.classes.end()) return nullptr;
    const bool child = style & WS_CHILD;
    auto parentRecord = lookup(parent);
    if (parent && !parentRecord) return nullptr;
    if (child && !parentRecord) return nullptr;

    auto w = std::make_shared<WindowRecord>();
    w->handle = handleOf<HWND>(s.newHandle());
    w->className = clsIt->second->name;
    w->windowClass = clsIt->second;
    w->style = style & ~WS_VISIBLE;  // shown only once creation has succeeded
    w->exStyle = exStyle;
    w->instance = instance;
    if (child) {
        w->parent = parent;
        w->controlId = static_cast<int>(reinterpret_cast<std::intptr_t>(menu));
    } else {
        w->owner = parent ? topLevelOf(parent) : nullptr;
        w->menu = menu;
        if (!menu) {
            const WindowClass &cls = *w->windowClass;
            if (cls.menuName)
                w->menu = menuFromResource(cls.instance, cls.menuName->c_str());
            else if (cls.menuOrdinal)
                w->menu = menuFromResource(cls.instance, MAKEINTRESOURCEA(cls.menuOrdinal));
        }
    }

    // CW_USEDEFAULT in x places a top-level window beside the top-level
    // windows that exist already (y is then ignored), so that a program's
    // windows start side by side rather than on top of each other; past the
    // right edge of a common screen it falls back to a cascade. In the width
    // it gives the default size (the height is then ignored). Child windows
    // take 0 for either.
    if (x == CW_USEDEFAULT) {
        if (child) {
            x = y = 0;
        } else {
            int right = 0;
            for (const auto &[handleKey, other] : s.windows)
                if (!(other->style & WS_CHILD) && !other->destroying) right = std::max(right, int{other->rect.right});
            const int step = kCascadeStep * (1 + s.defaultPlacements++ % 8);
            x = right > 0 && right + kCascadeStep <= kSideBySideLimit ? right + kCascadeStep : step;
            y = kCascadeStep;
        }
    }
    if (width == CW_USEDEFAULT) {
        width = child ? 0 : kDefaultWidth;
        height = child ? 0 : kDefaultHeight;
    }
    w->rect = RECT{x, y, x + std::max(width, 0), y + std::max(height, 0)};

    s.windows.emplace(key(w->handle), w);
    if (w->menu) setMenuWindow(w->menu, w->handle);
    if (parentRecord && child) parentRecord->children.push_back(w->handle);

    CREATESTRUCTA cs{};
    cs.lpCreateParams = param;
    cs.hInstance = instance;
    cs.hMenu = menu;
    cs.hwndParent = parent;
    cs.cy = w->rect.bottom - w->rect.top;
    cs.cx = w->rect.right - w->rect.left;
    cs.y = w->rect.top;
    cs.x = w->rect.left;
    cs.style = static_cast<LONG>(style);
    cs.lpszName = windowName;
    cs.lpszClass = className;
    cs.dwExStyle = exStyle;
    const HWND handle = w->handle;
    if (!callWindowProc(w, WM_NCCREATE, 0, reinterpret_cast<LPARAM>(&cs)) ||
        callWindowProc(w, WM_CREATE, 0, reinterpret_cast<LPARAM>(&cs)) == -1) {
        DestroyWindow(handle);
        return nullptr;
    }
    if (!lookup(handle)) return nullptr;  // destroyed during its own creation
    notify(handle, Change::Created);
    sendGeometry(w, true, true);
    if (style & WS_VISIBLE) ShowWindow(handle, child ? SW_SHOWNA : SW_SHOW);
    return lookup(handle) ? handle : nullptr;
}

BOOL WINAPI DestroyWindow(HWND window) {
    auto w = lookup(window);
    if (!w || w->destroying) return FALSE;
    WindowSystem &s = state();
    // Windows owned by this one go first, as a dialog goes with its owner.
    for (HWND owned : topLevelWindows())
        if (auto o = lookup(owned); o && o->owner == window) DestroyWindow(owned);
    const bool wasActive = s.active == window;
    const HWND owner = w->owner;
    if (w->style & WS_VISIBLE) {
        w->style &= ~WS_VISIBLE;
        notify(window, Change::Shown);
    }
    if (isDescendant(s.focus, window)) setFocusTo(nullptr);
    sendDestroy(w);
    release(w);
    // Activation passes back to the owner, so a closed dialog hands the
    // keyboard to the window that opened it.
    if (wasActive && lookup(owner) && acceptsInput(owner)) activate(owner);
    return TRUE;
}

BOOL WINAPI IsWindow(HWND window) { return lookup(window) != nullptr; }

BOOL WINAPI ShowWindow(HWND window, int showCommand) {
    auto w = lookup(window);
    if (!w) return FALSE;
    const BOOL wasVisible = (w->style & WS_VISIBLE) != 0;
    const bool child = w->style & WS_CHILD;
    bool show = true, activateIt = false;
    std::optional<bool> minimize;
    switch (showCommand) {
    case SW_HIDE: show = false; break;
    case SW_SHOWMINIMIZED:
        minimize = true;
        activateIt = true;
        break;
    case SW_MINIMIZE:
    case SW_SHOWMINNOACTIVE: minimize = true; break;
    case SW_SHOWNOACTIVATE: minimize = false; break;
    case SW_SHOWNA: break;
    case SW_SHOW: activateIt = true; break;
    default:  // SW_SHOWNORMAL, SW_SHOWMAXIMIZED, SW_RESTORE, SW_SHOWDEFAULT
        minimize = false;
        activateIt = true;
        break;
    }
    if (child) minimize.reset();
    if (minimize) {
        DWORD before = w->style;
        w->style = *minimize ? (w->style | WS_MINIMIZE) : (w->style & ~WS_MINIMIZE);
        if (before != w->style) notify(window, Change::Geometry);
    }
    if (show != static_cast<bool>(wasVisible)) {
        callWindowProc(w, WM_SHOWWINDOW, show, 0);
        if (!lookup(window)) return wasVisible;
        w->style = show ? (w->style | WS_VISIBLE) : (w->style & ~WS_VISIBLE);
        if (show) invalidateTree(*w);
        notify(window, Change::Shown);
    }
    WindowSystem &s = state();
    if (!show && isDescendant(s.focus, window)) setFocusTo(nullptr);
    if (show && activateIt && !child && acceptsInput(window)) {
        if (w->style & WS_MINIMIZE) {
            // A minimized window is active but no window has the focus.
            if (s.focus) setFocusTo(nullptr);
            s.active = window;
        } else {
            activate(window);
        }
    }
    return wasVisible;
}

BOOL WINAPI IsWindowVisible(HWND window) {
    auto w = lookup(window);
    return w && isVisible(*w);
}

BOOL WINAPI IsIconic(HWND window) {
    auto w = lookup(window);
    return w && (w->style & WS_MINIMIZE);
}

BOOL WINAPI EnableWindow(HWND window, BOOL enable) {
    auto w = lookup(window);
    if (!w) return FALSE;
    const BOOL wasDisabled = (w->style & WS_DISABLED) != 0;
    if (static_cast<bool>(enable) == static_cast<bool>(wasDisabled)) {
        w->style = enable ? (w->style & ~WS_DISABLED) : (w->style | WS_DISABLED);
        if (!enable && isDescendant(state().focus, window)) setFocusTo(nullptr);
        callWindowProc(w, WM_ENABLE, enable ? TRUE : FALSE, 0);
        notify(window, Change::Enabled);
    }
    return wasDisabled;
}

BOOL WINAPI IsWindowEnabled(HWND window) {
    auto w = lookup(window);
    return w && !(w->style & WS_DISABLED);
}

HWND WINAPI GetParent(HWND window) {
    auto w = lookup(window);
    if (!w) return nullptr;
    return (w->style & WS_CHILD) ? w->parent : w->owner;
}

HWND WINAPI SetFocus(HWND window) {
    WindowSystem &s = state();
    HWND old = s.focus;
    if (window && !lookup(window)) return nullptr;
    setFocusTo(window);
    return old;
}

HWND WINAPI GetFocus(void) { return state().focus; }

HWND WINAPI FindWindowA(LPCSTR className, LPCSTR windowName) {
    for (HWND h : topLevelWindows()) {
        auto w = lookup(h);
        if (className && lowerCase(w->className) != lowerCase(className)) continue;
        if (windowName && lowerCase(w->text) != lowerCase(windowName)) continue;
        return h;
    }
    return nullptr;
}

BOOL WINAPI SetWindowTextA(HWND window, LPCSTR text) {
    if (!lookup(window)) return FALSE;
    return SendMessageA(window, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text)) ? TRUE : FALSE;
}

int WINAPI GetWindowTextA(HWND window, LPSTR buffer, int maxCount) {
    if (!buffer || maxCount <= 0) return 0;
    buffer[0] = '\0';
    if (!lookup(window)) return 0;
    return static_cast<int>(
        SendMessageA(window, WM_GETTEXT, static_cast<WPARAM>(maxCount), reinterpret_cast<LPARAM>(buffer)));
}

BOOL WINAPI GetClientRect(HWND window, LPRECT rect) {
    auto w = lookup(window);
    if (!w || !rect) return FALSE;
    *rect = clientRectOf(*w);
    return TRUE;
}

BOOL WINAPI GetWindowRect(HWND window, LPRECT rect) {
    auto w = lookup(window);
    if (!w || !rect) return FALSE;
    *rect = w->rect;
    if (w->style & WS_CHILD)
        if (auto parent = lookup(w->parent)) {
            POINT base = clientOrigin(*parent);
            rect->left += base.x;
            rect->right += base.x;
            rect->top += base.y;
            rect->bottom += base.y;
        }
    return TRUE;
}

BOOL WINAPI SetWindowPos(HWND window, HWND insertAfter, int x, int y, int cx, int cy, UINT flags) {
    auto w = lookup(window);
    if (!w) return FALSE;
    RECT r = w->rect;
    if (!(flags & SWP_NOMOVE)) {
        LONG width = r.right - r.left, height = r.bottom - r.top;
        r = RECT{x, y, x + width, y + height};
    }
    if (!(flags & SWP_NOSIZE)) {
        r.right = r.left + std::max(cx, 0);
        r.bottom = r.top + std::max(cy, 0);
    }
    const bool moved = r.left != w->rect.left || r.top != w->rect.top;
    const bool sized =
        (r.right - r.left) != (w->rect.right - w->rect.left) || (r.bottom - r.top) != (w->rect.bottom - w->rect.top);
    w->rect = r;
    if (moved || sized) {
        notify(window, Change::Geometry);
        if (sized && !(flags & SWP_NOREDRAW)) invalidateTree(*w);
        sendGeometry(w, moved, sized);
    }
    return TRUE;
}

BOOL WINAPI MoveWindow(HWND window, int x, int y, int width, int height, BOOL repaint) {
    if (!SetWindowPos(window, nullptr, x, y, width, height, SWP_NOZORDER | (repaint ? 0 : SWP_NOREDRAW))) return FALSE;
    if (repaint)
        if (auto w = lookup(window)) invalidateTree(*w);
    return TRUE;
}

LRESULT WINAPI DefWindowProcA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto w = lookup(window);
    if (!w) return 0;
    switch (message) {
    case WM_NCCREATE: {
        auto *cs = reinterpret_cast<const CREATESTRUCTA *>(lParam);
        if (cs && cs->lpszName && !IS_INTRESOURCE(cs->lpszName)) w->text = cs->lpszName;
        return TRUE;
    }
    case WM_SETTEXT:
        w->text = lParam ? reinterpret_cast<const char *>(lParam) : "";
        notify(window, Change::Text);
        return TRUE;
    case WM_GETTEXT: {
        if (wParam == 0 || !lParam) return 0;
        auto *buffer = reinterpret_cast<char *>(lParam);
        std::size_t n = std::min<std::size_t>(w->text.size(), wParam - 1);
        std::memcpy(buffer, w->text.data(), n);
        buffer[n] = '\0';
        return static_cast<LRESULT>(n);
    }
    case WM_GETTEXTLENGTH: return static_cast<LRESULT>(w->text.size());
    case WM_PAINT: {
        PAINTSTRUCT ps;
        BeginPaint(window, &ps);
        EndPaint(window, &ps);
        return 0;
    }
    case WM_SYSCOMMAND:
        if ((wParam & 0xFFF0) == SC_CLOSE) SendMessageA(window, WM_CLOSE, 0, 0);
        return 0;
    case WM_CLOSE: DestroyWindow(window); return 0;
    default: return 0;
    }
}

HICON WINAPI LoadIconA(HINSTANCE instance, LPCSTR name) {
    if (!name) return nullptr;
    if (instance && !plat::res::loadIconGroup(instance, name)) return nullptr;
    return handleOf<HICON>(internIcon(instance, name, "icon"));
}

HCURSOR WINAPI LoadCursorA(HINSTANCE instance, LPCSTR name) {
    // Only the system's own cursors exist: the program has no cursor resources.
    if (instance || !name) return nullptr;
    return handleOf<HCURSOR>(internIcon(nullptr, name, "cursor"));
}

HMODULE WINAPI GetModuleHandleA(LPCSTR moduleName) { return moduleName ? nullptr : plat::res::moduleInstance(); }

}  // extern "C"

namespace plat::user {
const IconInfo *iconInfo(HICON icon) {
    WindowSystem &s = state();
    auto it = s.icons.find(key(icon));
    return it == s.icons.end() ? nullptr : &it->second;
}
}  // namespace plat::user
