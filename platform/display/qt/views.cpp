// The one table of view kinds: how each is made and brought up to date.
#include <QVariant>

#include <array>

#include "display/qt/controls.h"
#include "display/qt/frame.h"
#include "display/qt/surface.h"
#include "display/qt/view.h"

namespace plat::qt {

namespace {

constexpr const char *kWindowProperty = "noctilWindow";

using Maker = QWidget *(*)(QtDisplay &, const View &, const user::Window &, QWidget *);
using Shower = void (*)(QtDisplay &, View &, const user::Window &);

// A control: its own widget, which is also where its children would go.
template <Maker make>
void createControl(QtDisplay &display, View &view, const user::Window &w, QWidget *parent) {
    view.widget = view.client = make(display, view, w, parent);
}

// A child window's widget keeps its place, enabled state and visibility,
// and what its kind shows besides.
template <Shower show>
void updateChild(QtDisplay &display, View &view, const user::Window &w) {
    if (!view.hasPlaced || !sameRect(view.placed, w.rect)) {
        view.placed = w.rect;
        view.hasPlaced = true;
        view.widget->setGeometry(QRect(QPoint(w.rect.left, w.rect.top), sizeOf(w.rect)));
    }
    view.widget->setEnabled(!(w.style & WS_DISABLED));
    show(display, view, w);
    view.widget->setVisible(w.style & WS_VISIBLE);
}

// Surfaces and icons show nothing beyond that.
void nothingMore(QtDisplay &, View &, const user::Window &) {}

// In the order of ViewKind.
constexpr std::array kViewTypes{
    ViewType{ViewKind::Frame, createFrame, updateFrame},
    ViewType{ViewKind::Surface, createSurface, updateChild<nothingMore>},
    ViewType{ViewKind::PushButton, createControl<makePushButton>, updateChild<showPushButton>},
    ViewType{ViewKind::CheckBox, createControl<makeCheckBox>, updateChild<showCheckBox>},
    ViewType{ViewKind::Edit, createControl<makeEdit>, updateChild<showEdit>},
    ViewType{ViewKind::Combo, createControl<makeCombo>, updateChild<showCombo>},
    ViewType{ViewKind::Label, createControl<makeLabel>, updateChild<showLabel>},
    ViewType{ViewKind::Icon, createControl<makeIcon>, updateChild<nothingMore>},
    ViewType{ViewKind::Group, createControl<makeGroup>, updateChild<showGroup>},
    ViewType{ViewKind::Toolbar, createControl<makeToolbar>, updateChild<showToolbar>},
};

constexpr bool inKindOrder() {
    for (std::size_t i = 0; i < kViewTypes.size(); ++i)
        if (static_cast<std::size_t>(kViewTypes[i].kind) != i) return false;
    return true;
}
static_assert(inKindOrder() && kViewTypes.size() == static_cast<std::size_t>(ViewKind::Toolbar) + 1,
              "one row per view kind, in the order of ViewKind");

}  // namespace

ViewKind viewKindOf(const user::Window &w) { return w.style & WS_CHILD ? controlKind(w) : ViewKind::Frame; }

const ViewType &viewType(ViewKind kind) { return kViewTypes[static_cast<std::size_t>(kind)]; }

void tagWithWindow(QWidget *widget, HWND window) {
    widget->setProperty(kWindowProperty, QVariant::fromValue(reinterpret_cast<quintptr>(window)));
}

HWND taggedWindow(const QWidget *widget) {
    for (; widget; widget = widget->parentWidget()) {
        QVariant value = widget->property(kWindowProperty);
        if (value.isValid()) return reinterpret_cast<HWND>(value.value<quintptr>());
    }
    return nullptr;
}

}  // namespace plat::qt
