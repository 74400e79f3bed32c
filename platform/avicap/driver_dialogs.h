// The modal Video Source and Video Format dialogs that drivers show, built
// from templates made here and run by the platform's dialog box.
#pragma once

#include <windows.h>

#include <cstddef>
#include <span>
#include <string>
#include <vector>

namespace plat::avicap {

// A numeric setting of a Video Source dialog.
struct SourceField {
    std::string label;
    int value = 0;
    int minimum = 0;
    int maximum = 0;
};

// A setting of a Video Source dialog chosen from a list.
struct SourceChoice {
    std::string label;
    std::vector<std::string> items;
    int selected = 0;
};

// Control ids of the driver dialogs (OK and Cancel are IDOK and IDCANCEL).
inline constexpr int kFieldEditFirst = 100;     // the edit of field i is 100 + i
inline constexpr int kFormatButtonFirst = 200;  // the button of format i is 200 + i
inline constexpr int kFormatChosenText = 300;   // shows the format chosen so far
inline constexpr int kChoiceComboFirst = 400;   // the combo box of choice i is 400 + i

// Shows the fields in edits; on OK takes the values (each clamped to its
// range; text that is not a number keeps the old value) and returns true.
bool runSourceDialog(HWND owner, const std::string &title, std::span<SourceField> fields);
// The same with lists to choose from above the fields; on OK each choice's
// `selected` is the item chosen.
bool runSourceDialog(HWND owner, const std::string &title, std::span<SourceChoice> choices,
                     std::span<SourceField> fields);

// One button per format; a button chooses its format, OK confirms it.
// Returns true on OK with `index` set to the chosen format.
bool runFormatDialog(HWND owner, const std::string &title, std::span<const BITMAPINFOHEADER> formats,
                     std::size_t &index);

}  // namespace plat::avicap
