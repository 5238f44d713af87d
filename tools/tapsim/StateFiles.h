#pragma once

#include <string>

namespace tapsim {

class TapState;

// Writes the tap's state into a directory for tests to read:
//   flash.bin             the programmed area, 196,608 bytes from address 0, image byte order
//   settings-working.bin  the working settings sector, 65,536 bytes, as register reads see it
//   settings-stored.bin   the stored settings sector, likewise
// Each file is written under a temporary name and renamed, so a reader never sees half a file.
class StateFiles
{
public:
    explicit StateFiles(std::string directory);
    static constexpr const char *FlashName = "flash.bin";
    static constexpr const char *WorkingName = "settings-working.bin";
    static constexpr const char *StoredName = "settings-stored.bin";

    bool save(const TapState &state) const;

private:
    std::string m_directory;
};

}  // namespace tapsim
