#include "platform/Program.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <system_error>

namespace vorn::platform {
namespace {

class ProcfsProgram : public IProgram {
public:
    std::vector<std::string> Arguments(int argc, char** argv) const override {
        return std::vector<std::string>(argv, argv + argc);
    }

    std::string ExecutablePath() const override {
        std::error_code ec;
        const std::filesystem::path path = std::filesystem::read_symlink("/proc/self/exe", ec);
        return ec ? std::string() : path.string();
    }

    std::string UserDataFolder() const override {
        if (const char* data = std::getenv("XDG_DATA_HOME"); data && data[0] == '/')
            return data;
        if (const char* home = std::getenv("HOME"); home && home[0] == '/')
            return std::string(home) + "/.local/share";
        return {};
    }

    bool FolderWritable(const std::string& folder) const override {
        return ::access(folder.c_str(), W_OK) == 0;
    }

    void UseUtf8Console() const override {
        // A Linux terminal decodes by the user's locale, which is UTF-8 on any current system.
    }
};

}  // namespace

std::unique_ptr<IProgram> CreateProgram() {
    return std::make_unique<ProcfsProgram>();
}

}  // namespace vorn::platform
