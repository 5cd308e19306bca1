#ifndef OKR_TOOL_OUTPUTCHANNEL_H
#define OKR_TOOL_OUTPUTCHANNEL_H

#include <cstddef>
#include <string>

namespace okr {
namespace tool {

// Standard output or standard error at the level of the system, written in
// the blocks it is given. Text is UTF-8; a Windows console gets it as UTF-16
// (WriteConsoleW), whatever its code page, so names show as themselves.
class OutputChannel {
public:
    enum Which { standardOutput, standardError };

    explicit OutputChannel(Which which);
    ~OutputChannel();
    OutputChannel(const OutputChannel&) = delete;
    OutputChannel& operator=(const OutputChannel&) = delete;

    // Writes all of data; false when the system refused.
    bool write(const char* data, std::size_t size);
    // Hands over what the system still holds back; a failure to write that
    // shows only now (a full disk over NFS) makes it false.
    bool close();

    // After a failure: true when the reader has gone away (a closed pipe),
    // which is the reader's choice and no failure of the writer.
    bool readerGone() const { return gone; }
    // After a failure: the system's own words for it.
    const std::string& reason() const { return why; }

private:
    struct Device;
    Device* device;
    bool gone = false;
    std::string why;
};

} // namespace tool
} // namespace okr

#endif
