// The folder part of a sound file's path, for any path a file chooser or a settings file can give.
#include "fuzzinput.h"
#include "settings/persistence.h"

#include <QDir>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    FuzzInput input(data, size);
    const bool utf16 = input.byte() & 1;
    const QString path = input.rest(utf16);
    const QString folder = GetFolder(path);
    const QChar separator = QDir::separator();

    FUZZ_CHECK(path.startsWith(folder), path);
    if (folder.isEmpty()) {
        // No folder: no separator at all, or only the one the path starts with.
        FUZZ_CHECK(path.lastIndexOf(separator) <= 0, path);
        return 0;
    }
    // What follows the folder is the last separator and a name without one.
    FUZZ_CHECK(folder.size() < path.size() && path[folder.size()] == separator, path);
    FUZZ_CHECK(!QStringView(path).sliced(folder.size() + 1).contains(separator), path);
    // The folder ends in a separator only when the path held two in a row there ("a//b").
    if (folder.endsWith(separator))
        FUZZ_CHECK(path[folder.size() - 1] == separator, path);
    // Choosing another file in the same folder gives the same folder again.
    FUZZ_CHECK(GetFolder(folder + separator + QStringLiteral("x.wav")) == folder, path);
    return 0;
}
