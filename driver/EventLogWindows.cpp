#include "EventLog.h"

#include <windows.h>

namespace okr {
namespace driver {

namespace {

class WindowsEventLog final : public EventLog {
public:
    SourceHandle registerSource(const std::string& source) override
    {
        HANDLE handle = RegisterEventSourceA(nullptr, source.c_str());
        if (handle == nullptr) {
            error = GetLastError();
        }
        return handle;
    }

    std::uint32_t lastError() const override { return error; }

    bool report(SourceHandle source, const EventRecord& record) override
    {
        std::vector<const char*> strings;
        for (const std::string& text : record.strings) {
            strings.push_back(text.c_str());
        }
        return ReportEventA(static_cast<HANDLE>(source), record.type, record.category, record.eventId, nullptr,
                            static_cast<WORD>(strings.size()), 0, strings.empty() ? nullptr : strings.data(),
                            nullptr) != FALSE;
    }

    void deregisterSource(SourceHandle source) override { DeregisterEventSource(static_cast<HANDLE>(source)); }

private:
    std::uint32_t error = 0;
};

} // namespace

EventLog& systemEventLog()
{
    static WindowsEventLog log;
    return log;
}

} // namespace driver
} // namespace okr
