#include "tool/output/StandardStreams.h"

#include <algorithm>
#include <cstring>
#include <iostream>
#include <iterator>
#include <vector>

namespace okr {
namespace tool {

// Holds output until it is full, flushed, or (for whole lines) holds a line
// end at a flush. Once the channel fails, output is dropped.
class StandardStreams::Buffer : public std::streambuf {
public:
    Buffer(OutputChannel& target, bool linesOnly) : channel(target), wholeLines(linesOnly), room(1 << 16)
    {
        setp(room.data(), room.data() + room.size());
    }

    bool failed() const { return broken; }

    // Writes everything held, a last partial line too.
    bool drain() { return send(static_cast<std::size_t>(pptr() - pbase())); }

protected:
    int_type overflow(int_type c) override
    {
        if (!drain()) {
            return traits_type::eof();
        }
        if (!traits_type::eq_int_type(c, traits_type::eof())) {
            *pptr() = traits_type::to_char_type(c);
            pbump(1);
        }
        return traits_type::not_eof(c);
    }

    std::streamsize xsputn(const char* text, std::streamsize count) override
    {
        const auto size = static_cast<std::size_t>(count);
        if (size <= static_cast<std::size_t>(epptr() - pptr())) {
            std::memcpy(pptr(), text, size);
            pbump(static_cast<int>(count));
            return count;
        }
        if (!drain()) {
            return 0;
        }
        if (size >= room.size()) {
            return write(text, size) ? count : 0;
        }
        std::memcpy(pptr(), text, size);
        pbump(static_cast<int>(count));
        return count;
    }

    int sync() override
    {
        std::size_t size = static_cast<std::size_t>(pptr() - pbase());
        if (wholeLines) {
            const auto end = std::find(std::make_reverse_iterator(pptr()), std::make_reverse_iterator(pbase()), '\n');
            size = static_cast<std::size_t>(end.base() - pbase());
        }
        return send(size) ? 0 : -1;
    }

private:
    // Writes the first size bytes held and keeps the rest.
    bool send(std::size_t size)
    {
        const bool written = write(pbase(), size);
        const std::size_t rest = static_cast<std::size_t>(pptr() - pbase()) - size;
        std::memmove(room.data(), pbase() + size, rest);
        setp(room.data(), room.data() + room.size());
        pbump(static_cast<int>(rest));
        return written;
    }

    bool write(const char* text, std::size_t size)
    {
        broken = broken || (size > 0 && !channel.write(text, size));
        return !broken;
    }

    OutputChannel& channel;
    bool wholeLines;
    std::vector<char> room;
    bool broken = false;
};

StandardStreams::StandardStreams()
    : outputChannel(OutputChannel::standardOutput), errorChannel(OutputChannel::standardError),
      output(new Buffer(outputChannel, false)), errors(new Buffer(errorChannel, true)),
      oldOutput(std::cout.rdbuf(output.get())), oldErrors(std::cerr.rdbuf(errors.get()))
{
}

StandardStreams::~StandardStreams()
{
    std::cout.flush();
    errors->drain();
    std::cout.rdbuf(oldOutput);
    std::cerr.rdbuf(oldErrors);
}

bool StandardStreams::finish()
{
    const bool written = output->drain() && !output->failed() && outputChannel.close();
    if (!written && !outputChannel.readerGone()) {
        std::cerr << "okr-shm: write error: " << outputChannel.reason() << '\n';
    }
    errors->drain();
    return written || outputChannel.readerGone();
}

} // namespace tool
} // namespace okr
