#include "StateFiles.h"

#include <cstdio>
#include <memory>
#include <vector>

#include "TapState.h"

namespace tapsim {

namespace {
bool writeAtomically(const std::string &path, const std::vector<uint8_t> &bytes)
{
    const std::string temporary = path + ".tmp";
    {
        struct Closer
        {
            void operator()(FILE *f) const { std::fclose(f); }
        };
        std::unique_ptr<FILE, Closer> file(std::fopen(temporary.c_str(), "wb"));
        if (!file || std::fwrite(bytes.data(), 1, bytes.size(), file.get()) != bytes.size())
            return false;
        if (std::fflush(file.get()) != 0)
            return false;
    }
    return std::rename(temporary.c_str(), path.c_str()) == 0;
}
}  // namespace

StateFiles::StateFiles(std::string directory) : m_directory(std::move(directory)) {}

bool StateFiles::save(const TapState &state) const
{
    const std::string base = m_directory + "/";
    return writeAtomically(base + FlashName, state.programmedArea())
        && writeAtomically(base + WorkingName, state.settingsSector(false))
        && writeAtomically(base + StoredName, state.settingsSector(true));
}

}  // namespace tapsim
