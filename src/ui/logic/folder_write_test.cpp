#include "ui/logic/folder_write_test.h"

#include "platform/uuid.h"

#include <fcntl.h>
#include <unistd.h>

#include <filesystem>

namespace ui {

bool CanCreateFilesIn(const std::string& folder)
{
    std::error_code ec;
    if (folder.empty() || !std::filesystem::is_directory(folder, ec))
        return false;
    const std::string probe =
        (std::filesystem::path(folder) / (".velloray-write-test-" + platform::NewUuidText() + ".tmp")).string();
    // O_EXCL: an existing file of that name (however unlikely) is neither opened nor removed.
    const int fd = ::open(probe.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0)
        return false;
    ::close(fd);
    ::unlink(probe.c_str());
    return true;
}

} // namespace ui
