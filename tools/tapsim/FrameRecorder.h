#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <sys/time.h>

#include "SimulatedTap.h"

namespace tapsim {

// Appends one line per received frame: "<seconds>.<microseconds> <length> <hex bytes>".
// Every line is flushed as it is written, so a reader sees whole lines only.
class FrameRecorder : public FrameLog
{
public:
    // Truncates the file. isOpen() says whether it could be created.
    explicit FrameRecorder(const std::string &path);
    bool isOpen() const { return m_file != nullptr; }
    const std::string &path() const { return m_path; }

    void record(const timeval &time, int wireLength, const uint8_t *bytes,
                int capturedLength) override;

    // One record line without the newline; shared with the readers' tests.
    static std::string formatLine(const timeval &time, int wireLength, const uint8_t *bytes,
                                  int capturedLength);

private:
    struct Closer
    {
        void operator()(FILE *f) const { std::fclose(f); }
    };
    std::string m_path;
    std::unique_ptr<FILE, Closer> m_file;
};

}  // namespace tapsim
