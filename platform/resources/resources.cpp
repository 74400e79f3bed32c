// Module instance handles and the loaders the window system builds menus,
// accelerators, dialogs, icons and bitmaps from. The program's own module is
// the resource file its session serves; tests may register further modules.
#include "resources/resources.h"

#include <memory>

#include "core/session.h"
#include "resources/res_file.h"

namespace plat::res {

namespace {

// The program's module, at the address a 32-bit program image is loaded at.
constexpr ULONG_PTR kProgramModule = 0x00400000;
constexpr ULONG_PTR kFirstExtraModule = 0x10000000;
constexpr ULONG_PTR kModuleSpacing = 0x00010000;

struct ExtraModules {
    struct Module {
        HINSTANCE handle;
        std::vector<std::uint8_t> bytes;
    };
    std::vector<Module> modules;
};

struct ProgramModule {
    std::span<const std::uint8_t> bytes;
};

std::optional<ResourceFile> moduleFile(HINSTANCE instance) {
    if (!hasSession()) return std::nullopt;
    if (instance == moduleInstance()) {
        const ProgramModule *program = session().findComponent<ProgramModule>();
        return program ? ResourceFile::parse(program->bytes) : std::nullopt;
    }
    for (const auto &m : session().component<ExtraModules>().modules)
        if (m.handle == instance) return ResourceFile::parse(m.bytes);
    return std::nullopt;
}

}  // namespace

void serveProgramResources(Session &session, std::span<const std::uint8_t> resources) {
    session.component<ProgramModule>().bytes = resources;
}

HINSTANCE moduleInstance() { return reinterpret_cast<HINSTANCE>(kProgramModule); }

HINSTANCE registerModule(std::span<const std::uint8_t> resData) {
    auto &modules = session().component<ExtraModules>().modules;
    auto handle = reinterpret_cast<HINSTANCE>(kFirstExtraModule + kModuleSpacing * modules.size());
    modules.push_back({handle, std::vector<std::uint8_t>(resData.begin(), resData.end())});
    return handle;
}

namespace {

// Finds resource `name` of `type` in the instance's module and hands the
// module file and the resource's bytes to `parse`; nothing when the module
// or the resource is missing.
template <class T, class Parse>
std::optional<T> loadWith(HINSTANCE instance, LPCSTR name, unsigned type, Parse parse) {
    auto file = moduleFile(instance);
    if (!file || !name) return std::nullopt;
    auto data = file->find(type, ResourceKey::from(name));
    if (!data) return std::nullopt;
    return parse(*file, *data);
}

}  // namespace

std::optional<std::vector<MenuItem>> loadMenu(HINSTANCE instance, LPCSTR name) {
    return loadWith<std::vector<MenuItem>>(instance, name, RT_MENU,
                                           [](const ResourceFile &, auto data) { return parseMenu(data); });
}

std::optional<std::vector<ACCEL>> loadAccelerators(HINSTANCE instance, LPCSTR name) {
    return loadWith<std::vector<ACCEL>>(instance, name, RT_ACCELERATOR,
                                        [](const ResourceFile &, auto data) { return parseAccelerators(data); });
}

std::optional<DialogTemplate> loadDialog(HINSTANCE instance, LPCSTR name) {
    return loadWith<DialogTemplate>(instance, name, RT_DIALOG,
                                    [](const ResourceFile &, auto data) { return parseDialog(data); });
}

std::optional<std::vector<IconImage>> loadIconGroup(HINSTANCE instance, LPCSTR name) {
    return loadWith<std::vector<IconImage>>(
        instance, name, RT_GROUP_ICON, [](const ResourceFile &file, auto data) { return parseIconGroup(file, data); });
}

std::optional<std::vector<std::uint8_t>> loadBitmap(HINSTANCE instance, LPCSTR name) {
    return loadWith<std::vector<std::uint8_t>>(
        instance, name, RT_BITMAP, [](const ResourceFile &, auto data) -> std::optional<std::vector<std::uint8_t>> {
            if (!isSoundPackedDib(data)) return std::nullopt;
            return std::vector<std::uint8_t>(data.begin(), data.end());
        });
}

}  // namespace plat::res
