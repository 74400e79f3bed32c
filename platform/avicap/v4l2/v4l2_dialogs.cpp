#include "avicap/v4l2/v4l2_dialogs.h"

#include "avicap/driver_dialogs.h"

namespace plat::avicap::v4l2 {

bool askVideoSource(HWND owner, const SourceState &now, SourceAnswer &answer) {
    std::vector<SourceChoice> choices;
    std::vector<SourceField> fields;
    SourceChoice input{"Input", {}, 0};
    for (std::size_t i = 0; i < now.inputs.size(); ++i) {
        input.items.push_back(now.inputs[i].name);
        if (now.input && now.inputs[i].index == *now.input) input.selected = static_cast<int>(i);
    }
    if (!now.inputs.empty()) choices.push_back(input);
    SourceChoice standard{"TV standard", {}, -1};
    for (std::size_t i = 0; i < now.standards.size(); ++i) {
        standard.items.push_back(now.standards[i].name);
        if (standard.selected < 0 && now.standard && now.standards[i].id == *now.standard)
            standard.selected = static_cast<int>(i);
    }
    if (!now.standards.empty()) choices.push_back(standard);
    std::vector<std::pair<const Control *, std::size_t>> choiceControls, fieldControls;
    for (const Control &c : now.controls) {
        if (c.type == V4L2_CTRL_TYPE_INTEGER) {
            fieldControls.emplace_back(&c, fields.size());
            fields.push_back({c.name + " (" + std::to_string(c.minimum) + " to " + std::to_string(c.maximum) + ")",
                              c.value, c.minimum, c.maximum});
            continue;
        }
        SourceChoice choice{c.name, {}, 0};
        if (c.type == V4L2_CTRL_TYPE_BOOLEAN) {
            choice.items = {"Off", "On"};
            choice.selected = c.value ? 1 : 0;
        } else {
            for (std::size_t i = 0; i < c.menu.size(); ++i) {
                choice.items.push_back(c.menu[i].second);
                if (c.menu[i].first == c.value) choice.selected = static_cast<int>(i);
            }
        }
        choiceControls.emplace_back(&c, choices.size());
        choices.push_back(std::move(choice));
    }
    if (!runSourceDialog(owner, "Video Source", choices, fields)) return false;

    answer = {};
    const auto chosen = [&](std::size_t at) -> std::optional<std::size_t> {
        const int selected = choices[at].selected;
        if (selected < 0) return std::nullopt;
        return static_cast<std::size_t>(selected);
    };
    if (!now.inputs.empty()) answer.input = chosen(0);
    if (!now.standards.empty()) answer.standard = chosen(now.inputs.empty() ? 0 : 1);
    for (const auto &[control, index] : fieldControls)
        if (fields[index].value != control->value) answer.controls.emplace_back(control, fields[index].value);
    for (const auto &[control, index] : choiceControls) {
        const int selected = choices[index].selected;
        const std::int32_t value = control->type == V4L2_CTRL_TYPE_BOOLEAN
                                       ? selected
                                       : (selected >= 0 && static_cast<std::size_t>(selected) < control->menu.size()
                                              ? control->menu[static_cast<std::size_t>(selected)].first
                                              : control->value);
        if (value != control->value) answer.controls.emplace_back(control, value);
    }
    return true;
}

void tellRefused(HWND owner, const char *dialog, const std::string &text) {
    MessageBoxA(owner, text.c_str(), dialog, MB_OK | MB_ICONEXCLAMATION);
}

}  // namespace plat::avicap::v4l2
