#pragma once
#include <cstddef>
#include <cstdint>

// A plug-in names its version in an ELF note of its own file: owner "ZUA",
// type 1 (a version note), the version text with its NUL as the
// descriptor. The data manager reads it from the loaded library, so asking
// for a version needs neither a further export nor a command; `readelf -n`
// shows it too. One source file of a plug-in places the note with
//   ZUA_PLUGIN_VERSION_NOTE("1.0");
namespace zua {

inline constexpr char versionNoteOwner[] = "ZUA";
inline constexpr std::uint32_t versionNoteType = 1;

// The note as it lies in the file: header, owner and descriptor, each
// padded to four bytes.
template <std::size_t Size>
struct VersionNote {
    std::uint32_t ownerSize;
    std::uint32_t descriptorSize;
    std::uint32_t type;
    char owner[(sizeof versionNoteOwner + 3) / 4 * 4];
    char descriptor[(Size + 3) / 4 * 4];
};

} // namespace zua

#define ZUA_PLUGIN_VERSION_NOTE(text)                                                                                  \
    __attribute__((section(".note.zua.version"), used, aligned(4))) static const zua::VersionNote<sizeof(text)>        \
        zuaPluginVersionNote {                                                                                         \
        sizeof zua::versionNoteOwner, sizeof(text), zua::versionNoteType, "ZUA", text                                  \
    }
